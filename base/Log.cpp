#include "base/Log.h"
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

namespace {

// Set before the run starts a second thread and let go after the last one has ended; lines of
// both threads are written whole, one after the other, under the lock.
HANDLE g_hLog = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_Lock;

const int kAnsiLimit = 2048;
// Each ANSI byte becomes at most one UTF-16 unit and at most three UTF-8 bytes.
const int kUtf8Limit = 3 * kAnsiLimit;
const int kStampLength = 40;
const DWORD kPathLimit = MAX_PATH + 8;
const char kBlankLine[] = "\r\n";
const char kByteOrderMark[] = "\xEF\xBB\xBF";

bool WriteBytes(const char* bytes, DWORD length)
{
    DWORD written = 0;
    return WriteFile(g_hLog, bytes, length, &written, NULL) && written == length;
}

// Appends the UTF-8 form of wide (count units) at out, as much of it as room takes; the number
// of bytes written.
int AppendUtf8(char* out, int room, const wchar_t* wide, int count)
{
    if (count > room / 3)
        count = room / 3;
    if (count <= 0)
        return 0;
    return WideCharToMultiByte(CP_UTF8, 0, wide, count, out, room, NULL, NULL);
}

// Appends wide (count units) as UTF-8 with every control character in a visible form ("<CR>",
// "<LF>", "<0x1B>"): a text from outside (a command line, a path, a window title) can never end
// a line and start one of its own choosing. "<" and ">" occur in no Windows file name.
int AppendVisible(char* out, int room, const wchar_t* wide, int count)
{
    int used = 0;
    int start = 0;
    for (int i = 0; i < count; ++i)
    {
        const wchar_t c = wide[i];
        if (c >= 0x20 && c != 0x7F)
            continue;
        used += AppendUtf8(out + used, room - used, wide + start, i - start);
        start = i + 1;
        char mark[8];
        if (c == L'\r')
            lstrcpyA(mark, "<CR>");
        else if (c == L'\n')
            lstrcpyA(mark, "<LF>");
        else
            wsprintfA(mark, "<0x%02X>", static_cast<unsigned>(c));
        const int length = lstrlenA(mark);
        if (length > room - used)
            return used;
        CopyMemory(out + used, mark, length);
        used += length;
    }
    return used + AppendUtf8(out + used, room - used, wide + start, count - start);
}

// The ANSI text as UTF-8 at out, control characters made visible; the number of bytes written.
int AppendAnsiAsUtf8(char* out, int room, const char* text)
{
    wchar_t wide[kAnsiLimit];
    int count = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kAnsiLimit);
    return AppendVisible(out, room, wide, count - 1);
}

// The system's text for error, on one line, as UTF-8 at out; the number of bytes written.
int AppendErrorText(char* out, int room, DWORD error)
{
    wchar_t text[512];
    DWORD count = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 NULL, error, 0, text, sizeof(text) / sizeof(text[0]), NULL);
    while (count > 0 && (text[count - 1] == L'\r' || text[count - 1] == L'\n' ||
                         text[count - 1] == L' '))
        --count;
    for (DWORD i = 0; i < count; ++i)
        if (text[i] == L'\r' || text[i] == L'\n')
            text[i] = L' ';
    if (count == 0)
    {
        const char unknown[] = "no text for this error";
        lstrcpynA(out, unknown, room);
        return lstrlenA(out);
    }
    return AppendVisible(out, room, text, static_cast<int>(count));
}

// Time, thread and the event, with the failure's error or the wide text when there is one, as
// one line.
void WriteEvent(const char* format, va_list args, const char* call, DWORD error,
                const wchar_t* wide = NULL)
{
    char ansi[kAnsiLimit];
    int length = _vsnprintf(ansi, sizeof(ansi) - 1, format, args);
    ansi[length < 0 ? sizeof(ansi) - 1 : length] = '\0';

    char line[kStampLength + 2 * kUtf8Limit + 640];
    SYSTEMTIME now;
    GetLocalTime(&now);
    int used = _snprintf(line, kStampLength, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ",
                         now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                         now.wMilliseconds, GetCurrentThreadId());
    if (used < 0)
        used = 0;
    used += AppendAnsiAsUtf8(line + used, kUtf8Limit, ansi);
    if (call)
    {
        const int room = static_cast<int>(sizeof(line)) - used - 3;
        int count = _snprintf(line + used, 96, ": %s failed, error %lu (0x%08lX): ", call,
                              error, error);
        if (count > 0)
        {
            used += count;
            used += AppendErrorText(line + used, room - count, error);
        }
    }
    if (wide)
    {
        const int count = lstrlenW(wide);
        used += AppendVisible(line + used, static_cast<int>(sizeof(line)) - used - 3, wide, count);
    }
    line[used++] = '\r';
    line[used++] = '\n';

    EnterCriticalSection(&g_Lock);
    if (g_hLog != INVALID_HANDLE_VALUE)
        WriteBytes(line, static_cast<DWORD>(used));
    LeaveCriticalSection(&g_Lock);
}

// True when the final path of the open file is path itself, both in their long forms and
// compared without regard to case.
bool IsFileAtPath(HANDLE file, const wchar_t* path)
{
    wchar_t final[kPathLimit];
    DWORD length = GetFinalPathNameByHandleW(file, final, kPathLimit,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kPathLimit)
        return false;
    // "\\?\C:\..." for a drive, "\\?\UNC\server\..." for a share.
    wchar_t* found = final;
    if (wcsncmp(found, L"\\\\?\\UNC\\", 8) == 0)
    {
        found += 6;
        found[0] = L'\\';
    }
    else if (wcsncmp(found, L"\\\\?\\", 4) == 0)
    {
        found += 4;
    }
    wchar_t asked[kPathLimit];
    length = GetLongPathNameW(path, asked, kPathLimit);
    const wchar_t* expected = length > 0 && length < kPathLimit ? asked : path;
    return CompareStringOrdinal(found, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

bool OpenLog(const wchar_t* path, bool mustBeNew)
{
    if (g_hLog != INVALID_HANDLE_VALUE || !path || !*path)
        return false;
    // Appending access only: every write lands at the end, also when another run writes to the
    // same file. The link itself is opened, never what it points to, so that an elevated run
    // cannot be made to write into a file of someone else's choosing; delete access, so that a
    // file made where it should not have been goes again.
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              mustBeNew ? CREATE_NEW : OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH |
                                  FILE_FLAG_OPEN_REPARSE_POINT,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool created = mustBeNew || GetLastError() != ERROR_ALREADY_EXISTS;
    // A link or a mount point on a level above the file leads the open elsewhere: the file must
    // be the one that the path names, or the run writes no log.
    if (!IsFileAtPath(file, path))
    {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (created)
            SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
        CloseHandle(file);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        info.nNumberOfLinks != 1)
    {
        CloseHandle(file);
        return false;
    }
    InitializeCriticalSection(&g_Lock);
    g_hLog = file;
    const bool empty = info.nFileSizeHigh == 0 && info.nFileSizeLow == 0;
    if (!(empty ? WriteBytes(kByteOrderMark, sizeof(kByteOrderMark) - 1)
                : WriteBytes(kBlankLine, sizeof(kBlankLine) - 1)))
    {
        CloseLog();
        return false;
    }
    return true;
}

void CloseLog()
{
    if (g_hLog == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(g_hLog);
    g_hLog = INVALID_HANDLE_VALUE;
    DeleteCriticalSection(&g_Lock);
}

void LogEvent(const char* format, ...)
{
    if (g_hLog == INVALID_HANDLE_VALUE)
        return;
    const DWORD saved = GetLastError();
    va_list args;
    va_start(args, format);
    WriteEvent(format, args, NULL, 0);
    va_end(args);
    SetLastError(saved);
}

// The wide text after the formatted ANSI part.
static void WriteWide(const wchar_t* text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteEvent(format, args, NULL, 0, text ? text : L"");
    va_end(args);
}

void LogWide(const char* label, const wchar_t* text)
{
    if (g_hLog == INVALID_HANDLE_VALUE)
        return;
    const DWORD saved = GetLastError();
    WriteWide(text, "%s", label);
    SetLastError(saved);
}

void LogFailure(const char* call, DWORD error, const char* format, ...)
{
    if (g_hLog == INVALID_HANDLE_VALUE)
        return;
    const DWORD saved = GetLastError();
    va_list args;
    va_start(args, format);
    WriteEvent(format, args, call, error);
    va_end(args);
    SetLastError(saved);
}
