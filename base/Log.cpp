#include "base/Log.h"
#include "base/FinalPath.h"
#include "base/NtFile.h"
#include "base/ScopedHandle.h"
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
// of bytes written. A cut never parts a surrogate pair.
int AppendUtf8(char* out, int room, const wchar_t* wide, int count)
{
    if (count > room / 3)
    {
        count = room / 3;
        if (count > 0 && IS_HIGH_SURROGATE(wide[count - 1]))
            --count;
    }
    if (count <= 0)
        return 0;
    return WideCharToMultiByte(CP_UTF8, 0, wide, count, out, room, NULL, NULL);
}

// The format characters (Unicode general category Cf, as of Unicode 15.1), first and last code
// point of each run: they hide text or turn a line around (U+202E), and Win32 has no call that
// tells a character's category.
const DWORD kFormatCharacters[][2] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F}};

// True for the code points that the log writes in a visible form: the C0 and C1 controls and
// DEL, the line and paragraph separators, the format characters, and "<", which begins every
// visible form, so that each one in the log is one the run wrote.
bool IsShownVisibly(DWORD c)
{
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == L'<' || c == 0x2028 || c == 0x2029)
        return true;
    for (const DWORD* range : kFormatCharacters)
        if (c >= range[0] && c <= range[1])
            return true;
    return false;
}

// Appends wide (count units) as UTF-8 with what IsShownVisibly names in a visible form ("<CR>",
// "<LF>", "<0x1B>" below U+0100, "<U+2028>" above, a surrogate without its partner too): a text
// from outside (a command line, a path, a window title) can never end a line, start one of its
// own choosing or turn one around.
int AppendVisible(char* out, int room, const wchar_t* wide, int count)
{
    int used = 0;
    int start = 0;
    for (int i = 0; i < count;)
    {
        DWORD c = wide[i];
        int units = 1;
        if (IS_HIGH_SURROGATE(c) && i + 1 < count && IS_LOW_SURROGATE(wide[i + 1]))
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            units = 2;
        }
        const bool unpaired = units == 1 && c >= 0xD800 && c <= 0xDFFF;
        if (!unpaired && !IsShownVisibly(c))
        {
            i += units;
            continue;
        }
        used += AppendUtf8(out + used, room - used, wide + start, i - start);
        i += units;
        start = i;
        char mark[16];
        if (c == L'\r')
            lstrcpyA(mark, "<CR>");
        else if (c == L'\n')
            lstrcpyA(mark, "<LF>");
        else
            wsprintfA(mark, c < 0x100 ? "<0x%02lX>" : "<U+%04lX>", c);
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

// The length of text without its trailing backslashes: a folder's path compares the same with
// and without one (Windows reports a drive's root as "C:\", any other folder without it).
int LengthWithoutBackslash(const wchar_t* text)
{
    int length = lstrlenW(text);
    while (length > 0 && text[length - 1] == L'\\')
        --length;
    return length;
}

// True when the final path of the open file or folder is path itself, both in their long forms
// and compared without regard to case.
bool IsAtPath(HANDLE handle, const wchar_t* path)
{
    wchar_t found[kPathLimit];
    if (!GetFinalPath(handle, found, kPathLimit))
        return false;
    wchar_t asked[kPathLimit];
    const DWORD length = GetLongPathNameW(path, asked, kPathLimit);
    const wchar_t* expected = length > 0 && length < kPathLimit ? asked : path;
    return CompareStringOrdinal(found, LengthWithoutBackslash(found), expected,
                                LengthWithoutBackslash(expected), TRUE) == CSTR_EQUAL;
}

// True when name (length units) ends in ".log", in any case, and names no stream of a file
// ("name:stream").
bool IsLogFileName(const wchar_t* name, int length)
{
    const int extension = 4;
    for (int i = 0; i < length; ++i)
        if (name[i] == L':')
            return false;
    return length >= extension &&
           CompareStringOrdinal(name + length - extension, extension, L".log", extension, TRUE) ==
               CSTR_EQUAL;
}

// True when the file begins as a log of this program: the byte order mark and a first line
// "yyyy-mm-dd hh:mm:ss.mmm [thread] PivoraSetup " as WriteEvent and the start of a run write it.
bool BeginsAsRunLog(HANDLE file)
{
    // '0' stands for any digit.
    const char stamp[] = "\xEF\xBB\xBF" "0000-00-00 00:00:00.000 [";
    const char program[] = "] PivoraSetup ";
    const int maxThreadDigits = 10;
    char head[sizeof(stamp) + maxThreadDigits + sizeof(program)];
    DWORD read = 0;
    OVERLAPPED start = {};
    if (!ReadFile(file, head, sizeof(head), &read, &start))
        return false;
    DWORD at = 0;
    for (; stamp[at]; ++at)
    {
        if (at >= read)
            return false;
        const bool digit = head[at] >= '0' && head[at] <= '9';
        if (stamp[at] == '0' ? !digit : head[at] != stamp[at])
            return false;
    }
    const DWORD threadStart = at;
    while (at < read && at - threadStart < maxThreadDigits && head[at] >= '0' && head[at] <= '9')
        ++at;
    const DWORD rest = sizeof(program) - 1;
    return at > threadStart && read - at >= rest && memcmp(head + at, program, rest) == 0;
}

} // namespace

bool OpenLog(const wchar_t* path, LogTarget target)
{
    if (g_hLog != INVALID_HANDLE_VALUE || !path || !*path)
        return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    if (!name || !name[1])
        return false;
    ++name;
    const int nameLength = lstrlenW(name);
    if (target == kLogRunLogFile && !IsLogFileName(name, nameLength))
        return false;

    // The folder is opened and checked first, and the file is made inside that very folder: a
    // link or a mount point on a level of the path (or a drive letter of the user's) leads
    // elsewhere, and nothing is made or opened there.
    wchar_t folderPath[kPathLimit];
    const int folderLength = static_cast<int>(name - path);
    if (folderLength >= static_cast<int>(kPathLimit))
        return false;
    lstrcpynW(folderPath, path, folderLength + 1);
    CKernelHandle folder(CreateFileW(folderPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL));
    if (!folder.IsSet() || !IsAtPath(folder.Get(), folderPath))
        return false;

    // Appending access only: every write lands at the end, also when another run writes to the
    // same file. The file itself is opened, never what a link points to; delete access, so that
    // a file made and then refused goes again.
    ACCESS_MASK access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE;
    if (target == kLogRunLogFile)
        access |= FILE_READ_DATA;
    CKernelHandle file;
    bool created = false;
    if (OpenNative(folder.Get(), name, nameLength, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   target == kLogNewFile ? kNtFileCreate : kNtFileOpenIf,
                   kNtNonDirectoryFile | kNtWriteThrough, NULL, file, &created) != ERROR_SUCCESS)
        return false;
    // Only a plain file with one name, where the path says, and, where only a log of this
    // program may be written to, one that the run made or such a log.
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsAtPath(file.Get(), path) || GetFileType(file.Get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        info.nNumberOfLinks != 1 ||
        (target == kLogRunLogFile && !created && !BeginsAsRunLog(file.Get())))
    {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (created)
            SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                       sizeof(disposition));
        return false;
    }
    InitializeCriticalSection(&g_Lock);
    g_hLog = file.Detach();
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
