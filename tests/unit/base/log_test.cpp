// The run's log: what a line holds, and which files it refuses to write to.
#include <gtest/gtest.h>
#include <stdlib.h>
#include "base/Log.h"
#include "common/TestSupport.h"

namespace {

// Logging while no log was ever opened returns at once: the lock of the log is made only when
// one opens. Tried before any test opens a log, on a thread that must end within seconds.
DWORD WINAPI LogWithoutALog(void*)
{
    LogEvent("no log %d", 1);
    LogFailure("CreateFileA", ERROR_FILE_NOT_FOUND, "no log");
    LogWide("no log: ", L"x");
    return 0;
}
bool LoggedWithoutALog()
{
    HANDLE thread = CreateThread(NULL, 0, LogWithoutALog, NULL, 0, NULL);
    const bool ended = thread && WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    if (thread)
        CloseHandle(thread);
    return ended;
}
const bool g_bLoggedWithoutALog = LoggedWithoutALog();

std::wstring Wide(const std::string& ansi)
{
    wchar_t wide[MAX_PATH];
    return MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, MAX_PATH) ? wide : L"";
}

// Each line: the local time to the millisecond, the thread, the event in UTF-8 (converted from
// the ANSI code page), a failure with the call, its error as a number and the system's text.
// Nothing is written while no log is open, and the calls leave the last error as it was.
TEST(Log, LinesInUtf8WithTimeThreadAndError)
{
    EXPECT_TRUE(g_bLoggedWithoutALog) << "a call without a log open entered the log's lock";
    const std::string folder = MakeTempDir("log");
    const std::string path = folder + "run.log";
    LogEvent("before the log");
    ASSERT_TRUE(OpenLog(Wide(path).c_str(), kLogNewFile));
    EXPECT_FALSE(OpenLog(Wide(folder + "second.log").c_str(), kLogAnyFile)) << "one log at a time";
    SetLastError(ERROR_ACCESS_DENIED);
    LogEvent("%s %I64u", Sjis(u8"表 folder").c_str(), 5ULL << 32);
    LogFailure("CreateFileA", ERROR_FILE_NOT_FOUND, "payload %u", 207u);
    LogWide("wide: ", L"Bj\u00F6rn\r\n2001-02-03 04:05:06.789 [1] end\x1B");
    LogEvent("forged%s", "\r\n2001-02-03 04:05:06.789 [1] end\t\x7F<LF>");
    LogWide("unicode: ", L"\u0085\u00AD\u2028\u2029\u202Eevil\U000E0001\U0001F600\xD800x\xDC00");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    CloseLog();
    LogEvent("after the log");

    std::string data;
    ASSERT_TRUE(ReadFileBytes(path, &data));
    ASSERT_EQ(0u, data.find("\xEF\xBB\xBF")) << data;
    char thread[16];
    wsprintfA(thread, " [%lu] ", GetCurrentThreadId());
    std::vector<std::string> events;
    for (size_t start = 3, end; (end = data.find("\r\n", start)) != std::string::npos; start = end + 2)
    {
        const std::string line = data.substr(start, end - start);
        EXPECT_TRUE(line.size() > 24 && line[4] == '-' && line[13] == ':' && line[19] == '.' &&
                    line.compare(23, strlen(thread), thread) == 0) << line;
        events.push_back(line.substr(23 + strlen(thread)));
    }
    ASSERT_EQ(5u, events.size()) << data;
    EXPECT_EQ(u8"表 folder 21474836480", events[0]);
    EXPECT_EQ(0u, events[1].find("payload 207: CreateFileA failed, error 2 (0x00000002): ")) << events[1];
    EXPECT_LT(strlen("payload 207: CreateFileA failed, error 2 (0x00000002): "), events[1].size()) << "no text";
    // No text from outside starts a line: each control character is shown.
    EXPECT_EQ(u8"wide: Björn<CR><LF>2001-02-03 04:05:06.789 [1] end<0x1B>", events[2]);
    EXPECT_EQ("forged<CR><LF>2001-02-03 04:05:06.789 [1] end<0x09><0x7F><0x3C>LF>", events[3]);
    // Nor do the C1 controls (NEL), the line and paragraph separators, the format characters
    // (U+202E turns the line around; supplementary ones too) or a surrogate without its partner;
    // "<" is shown too, so that every visible form in the log is one the run made.
    EXPECT_EQ(u8"unicode: <0x85><0xAD><U+2028><U+2029><U+202E>evil<U+E0001>\U0001F600<U+D800>x<U+DC00>",
              events[4]);
    RemoveTree(folder);
}

// An elevated run must not be made to write into a file of somebody else's choosing: a second
// name of another file (a hard link), a folder, a device, or, when the log must be new, a file
// that is there already are all refused, and nothing is written to them.
TEST(Log, RefusesWhatIsNoPlainFileOfItsOwn)
{
    const std::string folder = MakeTempDir("logref");
    ASSERT_TRUE(WriteFileBytes(folder + "target.txt", "kept"));
    ASSERT_TRUE(CreateHardLinkA((folder + "link.log").c_str(), (folder + "target.txt").c_str(), NULL)) << GetLastError();
    for (const std::string& path : {folder + "link.log", folder.substr(0, folder.size() - 1), std::string("NUL")})
    {
        EXPECT_FALSE(OpenLog(Wide(path).c_str(), kLogAnyFile)) << path;
        CloseLog();
    }
    EXPECT_FALSE(OpenLog(Wide(folder + "target.txt").c_str(), kLogNewFile));
    // A link on a level above the file leads the open elsewhere (here "link" to "t.", which is
    // no name that Win32 reads back): refused, and the file that the open made goes again.
    if (const char* linked = getenv("PIVORA_LINKED_TEMP"))
    {
        const std::string path = std::string(linked) + "run.log";
        EXPECT_FALSE(OpenLog(Wide(path).c_str(), kLogNewFile));
        CloseLog();
        EXPECT_FALSE(FileExists(path));
        DeleteFileA(path.c_str());
    }
    // Where only a log of this program may be written: no other name, no stream of a file.
    for (const char* name : {"run.bat", "run.log:x.log"})
    {
        EXPECT_FALSE(OpenLog(Wide(folder + name).c_str(), kLogRunLogFile)) << name;
        CloseLog();
    }
    EXPECT_EQ((std::vector<std::string>{"link.log", "target.txt"}), ListFolder(folder));
    std::string data;
    EXPECT_TRUE(ReadFileBytes(folder + "target.txt", &data) && data == "kept") << data;
    // An earlier log of the same name, with one name again, is appended to after a blank line.
    ASSERT_TRUE(DeleteFileA((folder + "link.log").c_str()));
    ASSERT_TRUE(OpenLog(Wide(folder + "target.txt").c_str(), kLogAnyFile));
    LogEvent("next run");
    CloseLog();
    ASSERT_TRUE(ReadFileBytes(folder + "target.txt", &data));
    EXPECT_EQ(0u, data.find("kept\r\n2")) << data;
    RemoveTree(folder);
}

} // namespace
