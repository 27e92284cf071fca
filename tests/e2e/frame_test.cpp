// The frame of a run, from the real executable: single instance, work directory, hand-off
// values cleared at the start, the temporary space check.
#include "e2e/Scenario.h"

namespace {

// The first event that begins with prefix; empty when none.
std::string FindEvent(const std::vector<std::string>& events, const std::string& prefix)
{
    for (const std::string& event : events)
        if (event.compare(0, prefix.size(), prefix) == 0)
            return event;
    return "";
}

std::vector<std::pair<std::string, std::string>> TempAt(const std::string& folder)
{
    return {{"TEMP", folder}, {"TMP", folder}};
}

TEST(Frame, SecondStartEndsAtOnceWithoutAWord)
{
    // The first run holds the mutex; here the test holds it in its place.
    HANDLE mutex = CreateMutexA(NULL, TRUE, "Mutex_PivoraSetup");
    ASSERT_NE(nullptr, mutex);
    ASSERT_NE((DWORD)ERROR_ALREADY_EXISTS, GetLastError());

    std::string temp = MakeTempDir("second");
    SetupRun run;
    run.environment = TempAt(temp);
    run.arguments = "/Log=" + temp + "run.log";
    run.timeoutMs = 20000;   // a message box would keep the run waiting until this passes
    RunResult result = RunSetup(run);
    CloseHandle(mutex);
    const std::vector<std::string> events = ReadLogEvents(temp + "run.log");
    ASSERT_LE(2u, events.size());
    EXPECT_EQ("another copy of the setup runs: the mutex Mutex_PivoraSetup exists", events.end()[-2]);
    EXPECT_EQ("end: second copy running; exit code -1", events.back());

    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << "exit code -1";
    EXPECT_TRUE(result.messages.empty());
    EXPECT_EQ(std::vector<std::string>{"run.log"}, ListFolder(temp)) << "no work directory was made";
    RemoveTree(temp);
}

TEST(Frame, NormalStartClearsTheHandOffAndRemovesItsWorkDirectory)
{
    SetDwordValue("Software\\Halvoro\\pivora", "RequireReboot", 1);
    SetDwordValue(kPivoraKey, "CANCELED", 1);

    std::string temp = MakeTempDir("normal");
    SetupRun run;
    run.environment = TempAt(temp);
    run.arguments = "/Silent";
    std::vector<std::string> made;   // as the destination dialog stands
    run.onDestination = [&](HWND) { made = ListFolder(temp); return IDOK; };
    RunResult result = RunSetup(run);

    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_EQ(1u, made.size()) << "one work directory, nothing else";
    EXPECT_EQ(0, _strnicmp(made[0].c_str(), "exp", 3)) << made[0];
    EXPECT_EQ(".tmp", made[0].substr(made[0].size() - 4)) << made[0];
    EXPECT_TRUE(GetFileAttributesA((temp + made[0]).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(ListFolder(temp, "exp*").empty()) << "the work directory is removed again";
    EXPECT_FALSE(ValueExists(kPivoraKey, "RequireReboot"));
    EXPECT_FALSE(ValueExists(kPivoraKey, "CANCELED"));
    RemoveTree(temp);
}

TEST(Frame, ShortTemporarySpaceShowsMessage113AlsoWhenSilent)
{
    const char* drive = getenv("PIVORA_LOWSPACE_DRIVE");
    if (!drive || !*drive)
        GTEST_SKIP() << "no small drive mapped";
    std::string temp = std::string(drive) + "\\";
    const std::string log = MakeTempDir("lowspace") + "run.log";

    for (const char* arguments : {"", "/Silent"})
    {
        SCOPED_TRACE(arguments);
        SetupRun run;
        run.environment = TempAt(temp);
        run.arguments = arguments + std::string(" /Log=") + log;
        run.screenshotPrefix = *arguments ? "" : "message-113";
        RunResult result = RunSetup(run);

        ASSERT_TRUE(result.started);
        EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << "exit code -1";
        ASSERT_EQ(1u, result.messages.size());
        EXPECT_EQ(Messages::NoSpace(), result.messages[0].text);
        EXPECT_EQ(Messages::Caption(), result.messages[0].caption);
        EXPECT_EQ(std::vector<int>{IDOK}, result.messages[0].buttons);
        EXPECT_FALSE(result.messages[0].hasIcon);
        EXPECT_TRUE(ListFolder(temp, "exp*").empty());
        const std::vector<std::string> events = ReadLogEvents(log);
        ASSERT_LE(4u, events.size());
        EXPECT_EQ(0, events.end()[-4].find("temporary folder " + temp + ": ")) << events.end()[-4];
        EXPECT_EQ((std::vector<std::string>{"message 113 shown", "message 113 answered: OK",
                                            "end: too little temporary space; exit code -1"}),
                  std::vector<std::string>(events.end() - 3, events.end()));
    }
    RemoveTree(log.substr(0, log.size() - 7));
}

// A payload larger than the free space, where every run's 200 MiB are there: the temporary
// folder on drive S: (205 MiB); and, when the user's temporary folder (the read-only drive R:)
// gives the elevated run no work directory, the Windows temporary folder that it falls back to (a
// tmpfs of 205 MiB in the test prefix). Message 113 before any dialog, exit code -1, and nothing
// made in either folder.
TEST(Frame, PayloadLargerThanTheFreeSpaceShowsMessage113)
{
    const char* roomy = getenv("PIVORA_ROOMY_DRIVE");
    const char* readOnly = getenv("PIVORA_READONLY_DRIVE");
    char windowsTemp[MAX_PATH];
    ASSERT_TRUE(GetWindowsDirectoryA(windowsTemp, MAX_PATH));
    lstrcatA(windowsTemp, "\\Temp\\");
    const std::pair<std::string, std::string> cases[] = {   // the temporary folder, the one checked
        {roomy && *roomy ? roomy + std::string("\\") : "", roomy && *roomy ? roomy + std::string("\\") : ""},
        {readOnly && *readOnly && getenv("PIVORA_SMALL_WINDOWS_TEMP") ? readOnly + std::string("\\") : "", windowsTemp}};
    for (const auto& c : cases)
    {
        if (c.first.empty())
            continue;   // no such drive or folder in this session
        SCOPED_TRACE(c.second);
        const std::string log = MakeTempDir("large") + "run.log";
        ULARGE_INTEGER free;
        ASSERT_TRUE(GetDiskFreeSpaceExA(c.second.c_str(), &free, NULL, NULL));
        ASSERT_GT(free.QuadPart, 200ULL << 20);
        const std::vector<std::string> before = ListFolder(c.second);

        SetupRun run;
        run.exe = ProgramDir() + "PivoraSetup_large.exe";
        run.environment = TempAt(c.first);
        run.arguments = "/Log=" + log;
        RunResult result = RunSetup(run);
        EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << "exit code -1";
        EXPECT_FALSE(result.destinationShown);
        ASSERT_EQ(1u, result.messages.size());
        EXPECT_EQ(Messages::NoSpace(), result.messages[0].text);
        EXPECT_EQ(before, ListFolder(c.second)) << "nothing is made";
        EXPECT_EQ(std::vector<std::string>(), ListFolder(c.first));

        // The archive counts twice, packed and extracted; what is needed is more than is free.
        const std::vector<std::string> events = ReadLogEvents(log);
        ASSERT_LE(5u, events.size());
        unsigned long archive = 0, wmfdist = 0;
        unsigned long long files = 0, written = 0, freeBytes = 0, needed = 0;
        ASSERT_EQ(4, sscanf(FindEvent(events, "payloads: ").c_str(),
                            "payloads: archive %lu bytes, its files %llu bytes, wmfdist.exe %lu bytes: %llu bytes to write",
                            &archive, &files, &wmfdist, &written));
        EXPECT_EQ(archive - 24 - 2 * 284, files) << "setup.exe and the zeros, without the headers";
        EXPECT_EQ(archive + files + wmfdist, written);
        ASSERT_EQ(2, sscanf(events.end()[-4].c_str(), ("temporary folder " + c.second + ": %llu bytes free, %llu needed").c_str(),
                            &freeBytes, &needed)) << events.end()[-4];
        EXPECT_EQ(free.QuadPart, freeBytes);
        EXPECT_EQ(written, needed);
        EXPECT_GT(needed, freeBytes);
        EXPECT_EQ("end: too little temporary space; exit code -1", events.back());
        RemoveTree(log.substr(0, log.size() - 7));
    }
}

} // namespace
