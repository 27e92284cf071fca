// The run's own log file, with the real program: whoever starts the elevated run chooses its
// command line, so /Log writes only a log of this program, only where its path really leads, and
// no text from outside breaks a line of it.
#include "e2e/Scenario.h"
#include <shlobj.h>
#include <stdio.h>

namespace {

typedef std::vector<std::string> Lines;

// The first line of an earlier log of this program, and of another program's log in the same form.
const char kEarlierLog[] = "\xEF\xBB\xBF" "2026-01-02 03:04:05.678 [42] PivoraSetup 1.0.0.0 started\r\n";
const char kOtherLog[] = "\xEF\xBB\xBF" "2026-01-02 03:04:05.678 [42] PivoraTool 1.0.0.0 started\r\n";

class LogFile : public ScenarioTest
{
protected:
    // A silent run that completes, with its log asked for at path.
    void RunLoggedTo(const std::string& path, const std::string& more = "")
    {
        SCOPED_TRACE(path);
        RemoveTree(m_LogPath);
        EXPECT_EQ(0u, RunSetup(Run("/Silent \"/Log=" + path + "\"" + more, false)).exitCode);
        EXPECT_GE(Find("wmfdist start"), 0) << "the run goes on as without a log";
    }
};

std::string Contents(const std::string& path)
{
    std::string data;
    return ReadFileBytes(path, &data) ? data : "<no file>";
}

FILETIME LastWritten(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// A batch file in the all-users StartUp folder (with commands after the switch, for a log line
// that cmd would run) and another program's log are not written, and the runs go on as without a
// log. Behind a link on a level above the file ("link" leads to "t.", which Win32 reads as "t"),
// an earlier log keeps its content and no new file is made there, not even for a moment (the
// folder's time of the last change stays). An earlier log of this program is appended to, also
// when /Log gives its path (with a blank: the switch in quotes) in another letter case than the
// disk's.
TEST_F(LogFile, ElevatedRunWritesOnlyItsOwnLogWhereThePathLeads)
{
    char startup[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(NULL, CSIDL_COMMON_STARTUP, NULL, 0, startup));
    const std::string batch = std::string(startup) + "\\acc.bat";
    const std::string other = m_Temp + "other.log";
    ASSERT_TRUE(WriteFileBytes(other, kOtherLog));
    for (const std::string& path : {batch, other})
        RunLoggedTo(path, " /x&echo PWNED>C:\\pwned.txt&");
    EXPECT_FALSE(FileExists(batch));
    DeleteFileA(batch.c_str());
    EXPECT_EQ(kOtherLog, Contents(other));
    EXPECT_EQ((Lines{"dest", "events.log", "other.log"}), ListFolder(m_Temp)) << "no log anywhere else";

    if (const char* linked = getenv("PIVORA_LINKED_TEMP"))
    {
        const std::string target = "\\\\?\\C:\\pivora-links\\t.";
        ASSERT_TRUE(WriteFileBytes(target + "\\kept.log", kEarlierLog));
        const FILETIME before = LastWritten(target);
        RunLoggedTo(linked + std::string("kept.log"));
        RunLoggedTo(linked + std::string("new.log"));
        EXPECT_EQ(kEarlierLog, Contents(target + "\\kept.log"));
        EXPECT_FALSE(FileExists(target + "\\new.log"));
        const FILETIME after = LastWritten(target);
        EXPECT_EQ(0, CompareFileTime(&before, &after)) << "a file was made there and deleted";
        DeleteFileA((target + "\\kept.log").c_str());
        DeleteFileA((target + "\\new.log").c_str());
    }

    m_RunLog = m_Temp + "with blank\\run.log";
    ASSERT_TRUE(CreateDirectoryA((m_Temp + "with blank").c_str(), NULL));
    RunLoggedTo(m_RunLog);
    std::string otherCase = m_RunLog;
    CharUpperA(&otherCase[0]);
    RunLoggedTo(otherCase);
    const std::string data = Contents(m_RunLog);
    const size_t parted = data.find("exit code 0\r\n\r\n");
    EXPECT_TRUE(parted != std::string::npos && data.find("] PivoraSetup ", parted) != std::string::npos)
        << "the second run after a blank line: " << data;
    ExpectLogEnd("completed", 0);
}

// True when line begins with a time stamp and a thread: "yyyy-mm-dd hh:mm:ss.mmm [id] ".
bool BeginsWithStamp(const std::wstring& line)
{
    int y, mo, d, h, mi, s, ms, thread, used = 0;
    return swscanf(line.c_str(), L"%4d-%2d-%2d %2d:%2d:%2d.%3d [%d] %n", &y, &mo, &d, &h, &mi, &s,
                   &ms, &thread, &used) == 8 && used > 0 && line[10] == L' ' && line[23] == L' ';
}

// Line breaks in texts from outside (quoted switches with CR LF, NEL, U+2028 and U+2029, and a
// temporary folder with CR LF) start no line of the log: split as Unicode splits lines (CR, LF,
// CR LF, VT, FF, 0x1C-0x1E, NEL, U+2028, U+2029), every line of the log begins with its time and
// thread, and none with a line that they forge.
TEST_F(LogFile, NoLineOfTheLogComesFromOutside)
{
    const std::wstring forged = L"2001-02-03 04:05:06.789 [1] end: completed; exit code 0";
    const std::string temp = m_Temp + "\r\n2001-02-03 04:05:06.789 [1] end: completed; exit code 0\\";
    SetupRun run = Run();
    run.environment = {{"TEMP", temp}, {"TMP", temp}};
    run.wideArguments = L"\"/a\u2028" + forged + L"\" \"/b\u0085" + forged + L"\" \"c\u2029" + forged +
                        L"\" \"d\r\n" + forged + L"\"";
    RunSetup(run);
    ExpectLogEnd("too little temporary space", -1);

    const std::string utf8 = Contents(m_RunLog);
    std::wstring data(utf8.size(), L'\0');
    data.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data() + 3, (int)utf8.size() - 3, &data[0], (int)data.size()));
    for (const wchar_t* mark : {L"<U+2028>", L"<0x85>", L"<U+2029>", L"<CR><LF>"})
        EXPECT_NE(std::wstring::npos, data.find(mark + forged)) << "shown in the command line";
    const std::wstring breaks = L"\r\n\v\f\x1C\x1D\x1E\x85\u2028\u2029";
    size_t lines = 0;
    for (size_t start = 0, end; start < data.size(); start = end + 1)
    {
        end = data.find_first_of(breaks, start);
        if (end == std::wstring::npos)
            end = data.size();
        const std::wstring line = data.substr(start, end - start);
        EXPECT_TRUE(BeginsWithStamp(line) && line.compare(0, forged.size(), forged) != 0)
            << "line " << lines << " of " << utf8;
        ++lines;
        if (data.compare(end, 2, L"\r\n") == 0)
            ++end;
    }
    EXPECT_LE(5u, lines);
    EXPECT_NE(std::wstring::npos, data.find(L"temporary folder " + WideFromUtf8(m_Temp.c_str()) + L"<CR><LF>" + forged));
}

} // namespace
