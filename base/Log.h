// The run's log, for support: one event a line, each with the local time to the millisecond and
// the thread it came from, in UTF-8. Written only when a log was asked for; every call is a no-op
// while no log is open, and a log that cannot be written never changes the run.
#pragma once
#include <windows.h>

// The compiler checks the arguments against the format as the C run-time of Windows reads it.
#ifdef __GNUC__
#define PIVORA_LOG_FORMAT(index, first) __attribute__((format(ms_printf, index, first)))
#else
#define PIVORA_LOG_FORMAT(index, first)
#endif

// The files that OpenLog may write to.
enum LogTarget
{
    kLogNewFile,      // a file that is not there yet
    kLogAnyFile,      // a new file, or any plain file appended to
    kLogRunLogFile,   // a new file whose name ends in ".log", or a log of this program so named
};

// Opens the log file at path (a full path) and appends to it, line by line, each line written
// through to the disk before the call returns. A file that holds a log already gets a blank line
// before this run's lines; a new one starts with the UTF-8 byte order mark. target says which
// files may be written to (kLogRunLogFile: a name without a stream part, and a file that begins
// with the byte order mark and a first line of this program's form). The folder is opened and
// checked first and the file made or opened inside it, so nothing is made where the path does not
// really lead (a link or mount point on a level of it). Anything but a plain file with one name
// (a link, a device, a folder) is refused. Every control character, line or paragraph separator,
// format character (U+202E) and "<" of a logged text is written in a visible form ("<CR>",
// "<LF>", "<0x1B>", "<0x3C>", "<U+2028>"), so that each line is one that the run wrote and each
// visible form one that it made. False when no log could be opened; the run then goes on
// without one.
bool OpenLog(const wchar_t* path, LogTarget target);
// Closes the log; later calls write nothing. Called once no other thread writes any more.
void CloseLog();

// One event. format and its arguments as for _vsnprintf; texts are in the ANSI code page and
// reach the file as UTF-8. A line longer than 2,047 bytes is cut. Both calls leave the calling
// thread's last error as they found it.
void LogEvent(const char* format, ...) PIVORA_LOG_FORMAT(1, 2);
// A failed call: the event, then the call's name and its Windows error as a number and as the
// system's text. An HRESULT is given as it is (it reads as a number of its own).
void LogFailure(const char* call, DWORD error, const char* format, ...) PIVORA_LOG_FORMAT(3, 4);

// An event that ends in a UTF-16 text (a command line, a path as the user gave it): the ANSI
// label, then the text as UTF-8, whatever the ANSI code page can name.
void LogWide(const char* label, const wchar_t* text);

// The Windows error inside a result code folded from one; any other result code as it is, which
// FormatMessage knows as well.
inline DWORD ErrorOfResult(HRESULT hr)
{
    return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr);
}

// "yes" or "no", for the events that report a flag.
inline const char* YesNo(bool value)
{
    return value ? "yes" : "no";
}
