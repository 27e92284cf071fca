// Every way a run can end, with the real program and the test doubles as its payload: the
// messages shown, the registry left behind, the work directory, the exit code and the order of
// events.
#include "e2e/Scenario.h"
#include <algorithm>
#include "driver/DialogDriver.h"

namespace {

typedef std::vector<std::string> Lines;

class Install : public ScenarioTest
{
protected:
    static void SetUpTestSuite() { COldDirectX::RestoreLeftOvers(); }

    std::string DestinationWritten() const { return m_Destination + "\\"; }
    std::string ProgramsPath() const
    {
        std::string value;
        return ReadStringValue(kPivoraKey, "ProgramsPath", &value) ? value : "<missing>";
    }
    DWORD Abort() const
    {
        DWORD value = 0;
        return ReadDwordValue(kSetupMgrKey, "Abort", &value) ? value : 0xFFFFFFFF;
    }
    void ExpectNoWorkDirectoryLeft() const
    {
        EXPECT_TRUE(ListFolder(m_Temp, "exp*").empty()) << "the work directory is left behind";
    }
};

// Answers No to every question.
int AnswerNo(const SeenMessage& m) { return m.buttons.size() > 1 ? IDNO : IDOK; }

// The temporary folder is given in its short form and in lower case: every step after the hold
// works in the directory by its final path, the long one in its true case.
TEST_F(Install, CompletedRunAsksForTheRestart)
{
    SetupRun run = Run();
    char given[MAX_PATH] = "";
    ASSERT_TRUE(GetShortPathNameA(m_Temp.c_str(), given, MAX_PATH) && m_Temp != given);
    CharLowerA(given);
    run.environment[0].second = run.environment[1].second = given;
    run.onMessage = AnswerNo;
    run.screenshotPrefix = "e2e-completed";
    // While the destination dialog stands, the run holds its (still empty) work directory and
    // every folder above it: another process can neither rename nor delete the one, nor rename
    // the temporary folder.
    DWORD renameError = 0, deleteError = 0, parentError = 0;
    const auto typeDestination = run.onDestination;
    run.onDestination = [&](HWND dialog) {
        const Lines found = ListFolder(m_Temp, "exp*");
        const std::string work = m_Temp + (found.empty() ? "exp-missing" : found[0]);
        if (!MoveFileA(work.c_str(), (work + ".moved").c_str()))
            renameError = GetLastError();
        else
            MoveFileA((work + ".moved").c_str(), work.c_str());
        if (!RemoveDirectoryA(work.c_str()))
            deleteError = GetLastError();
        else
            CreateDirectoryA(work.c_str(), NULL);
        const std::string parent = m_Temp.substr(0, m_Temp.size() - 1);
        if (!MoveFileA(parent.c_str(), (parent + ".moved").c_str()))
            parentError = GetLastError();
        else
            MoveFileA((parent + ".moved").c_str(), parent.c_str());
        return typeDestination(dialog);
    };
    RunResult result = RunSetup(run);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), renameError);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), deleteError);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), parentError);

    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.destinationShown);
    ASSERT_EQ(Lines{Messages::Restart()}, Texts(result));
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), result.messages[0].buttons);
    EXPECT_EQ(Messages::Caption(), result.messages[0].caption);
    EXPECT_FALSE(result.messages[0].hasIcon);

    EXPECT_EQ(DestinationWritten(), ProgramsPath());
    EXPECT_FALSE(ValueExists(kPivoraKey, "CANCELED"));
    EXPECT_EQ(0xFFFFFFFFu, Abort()) << "no stop report outside setup-manager mode";
    ExpectNoWorkDirectoryLeft();
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_Destination.c_str()))
        << "the destination's missing levels are made";

    // The order of events as the doubles saw them.
    int start = Find("setup start"), programsPath = Find("setup ProgramsPath=");
    int hidden = Find("setup waitdlg visible=0"), wmfdist = Find("wmfdist start");
    ASSERT_GE(start, 0);
    ASSERT_GE(programsPath, 0);
    EXPECT_EQ("setup ProgramsPath=" + DestinationWritten(), LogLine(programsPath))
        << "ProgramsPath is written before the installer starts";
    EXPECT_EQ("setup waitdlg visible=1", LogLine(start + 1)) << "the wait dialog stands at first";
    EXPECT_GT(hidden, start) << "the wait dialog is hidden while the installer runs";
    EXPECT_GE(Find("setup foreground=1"), 0) << "the installer's window is brought forward";
    ASSERT_GT(wmfdist, Find("setup end"));
    EXPECT_EQ(0, LogLine(wmfdist).find("wmfdist start \"" + m_Temp + "exp")) << "not the final path";
    EXPECT_NE(std::string::npos, LogLine(wmfdist).find("\\wmfdist.exe\" /Q"));
    EXPECT_EQ("wmfdist setup.exe present=0", LogLine(wmfdist + 1))
        << "setup.exe is deleted once the installer has ended";
    EXPECT_EQ("wmfdist workdir rename=32", LogLine(wmfdist + 2)) << "held up to the last program";

    // The run's log: every step in the order of the run, the wait dialog's lines from its own
    // thread, and the end.
    const Lines events = RunLog();
    const std::string steps[] = {"PivoraSetup 1.0.0.0 started", "command line: ", "switches: ",
        "log file: ", "Windows ", "temporary folder ", "work directory: ", "RequireReboot ",
        "CANCELED ", "DirectX: release 9.0c (0x00090003)", "ProgramsPath read: ",
        "destination dialog: proposes ", "destination dialog: " + m_Destination + " confirmed",
        "ProgramsPath written: \"" + DestinationWritten() + "\": yes", "wait dialog started: shown yes",
        "payload 207: ", "archive entry \"readme.txt\" extracted: 256000 bytes", "starting ",
        "started: process id ", "installer window found and brought to the front: yes",
        "process ", "CANCELED read: 0", "payload 203: ", "starting ", "process ",
        "wait dialog: thread ends", "work directory: " + m_Temp + "exp",
        "message 110 shown", "message 110 answered: No", "end: completed; exit code 0"};
    size_t at = 0;
    for (const std::string& step : steps)
    {
        while (at < events.size() && events[at].compare(0, step.size(), step) != 0)
            ++at;
        ASSERT_LT(at, events.size()) << "missing or out of order: " << step;
        ++at;
    }
    ExpectLogEnd("completed", 0);
    const Lines threads = ReadLogEvents(m_RunLog, true);
    std::string waitThread, mainThread = threads.back().substr(0, threads.back().find(']'));
    for (const std::string& line : threads)
        if (line.find("] wait dialog: window made") != std::string::npos)
            waitThread = line.substr(0, line.find(']'));
    EXPECT_TRUE(!waitThread.empty() && waitThread != mainThread) << waitThread << " " << mainThread;
}

// /Silent leaves out the closing message; /NoWaitDlg keeps the wait dialog hidden throughout.
TEST_F(Install, SilentRunWithoutWaitDialog)
{
    RunResult result = RunSetup(Run("/Silent /NoWaitDlg"));
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.messages.empty());
    EXPECT_EQ(DestinationWritten(), ProgramsPath());
    ASSERT_GE(Find("setup start"), 0);
    EXPECT_EQ(-1, Find("setup waitdlg visible=1"));
    EXPECT_GE(Find("wmfdist start"), 0);
    ExpectNoWorkDirectoryLeft();
    ExpectLogEnd("completed", 0);
}

// A run stopped at the destination dialog or by the inner installer: message 120, and the stop
// report Abort = 1 in setup-manager mode only.
TEST_F(Install, InterruptedRuns)
{
    for (bool installerCancels : {false, true})
        for (bool setupManager : {false, true})
        {
            SCOPED_TRACE(std::string(installerCancels ? "installer" : "destination") +
                         (setupManager ? ", setup manager" : ", user"));
            SetDwordValue(kSetupMgrKey, "Abort", 7);
            SetupRun run = Run(setupManager ? "/RunningAsSetupMgr" : "");
            if (installerCancels)
                run.environment.push_back({"PIVORA_FAKE_SETUP_CANCEL", "1"});
            else
                run.onDestination = [](HWND) { return IDCANCEL; };
            RunResult result = RunSetup(run);

            EXPECT_EQ(0u, result.exitCode);
            ASSERT_EQ(Lines{Messages::Interrupted()}, Texts(result)) << "no restart question";
            EXPECT_EQ(std::vector<int>{IDOK}, result.messages[0].buttons);
            EXPECT_EQ(installerCancels, Find("setup start") >= 0);
            EXPECT_EQ(installerCancels ? DestinationWritten() : "<missing>", ProgramsPath());
            DWORD canceled = 0;
            EXPECT_EQ(installerCancels, ReadDwordValue(kPivoraKey, "CANCELED", &canceled) && canceled == 1);
            EXPECT_EQ(-1, Find("wmfdist start")) << "the redistributable is skipped";
            EXPECT_EQ(setupManager ? 1u : 7u, Abort());
            ExpectNoWorkDirectoryLeft();
            ExpectLogEnd(installerCancels ? "installation cancelled by the installer"
                                          : "destination dialog cancelled", 0);
            DeleteValue(kPivoraKey, "CANCELED");
            RemoveTree(m_LogPath);
        }
}

TEST_F(Install, SetupManagerModeNeverAsksForTheRestart)
{
    SetDwordValue(kSetupMgrKey, "Abort", 1);
    SetupRun run = Run("/RunningAsSetupMgr");
    run.environment.push_back({"PIVORA_FAKE_SETUP_EXIT", "3"});
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.messages.empty());
    EXPECT_EQ(0xFFFFFFFFu, Abort()) << "deleted before the destination, not written again";
    EXPECT_GE(Find("wmfdist start"), 0) << "a failing exit code still counts as run";
    const Lines events = RunLog();
    EXPECT_NE(events.end(), std::find_if(events.begin(), events.end(), [](const std::string& e) {
        return e.find("ended with exit code 3 (0x00000003)") != std::string::npos; }));
    ExpectLogEnd("completed", 0);
}

TEST_F(Install, SettledPathSkipsTheDestinationDialog)
{
    SetStringValue(kPivoraKey, "Path", "settled");
    SetStringValue(kPivoraKey, "ProgramsPath", "C:\\Settled");
    RunResult result = RunSetup(Run("/Silent"));
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_FALSE(result.destinationShown);
    EXPECT_EQ("C:\\Settled\\", ProgramsPath());
    EXPECT_GE(Find("setup ProgramsPath=C:\\Settled\\"), 0);
    ExpectLogEnd("completed", 0);
}

// The failure is reported, and the DirectX offer that is due still follows it.
TEST_F(Install, BrokenArchiveFailsWithMessage111)
{
    CMediaLayout media(ProgramDir() + "PivoraSetup_badarchive.exe", "Tools\\DirectX9.0c\\dxsetup.exe");
    ASSERT_FALSE(media.m_Root.empty()) << "no media on the disc drive";
    SetupRun run = Run("/LaunchDX9");
    run.exe = media.Program();
    run.onMessage = AnswerNo;
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ((Lines{Messages::Failed(), Messages::OfferDirectX()}), Texts(result))
        << "no restart question after a failure, no message 120 after No to the offer";
    EXPECT_EQ(-1, Find("dxsetup start"));
    EXPECT_EQ(-1, Find("wmfdist start")) << "the redistributable is not run";
    EXPECT_EQ(DestinationWritten(), ProgramsPath());
    ExpectNoWorkDirectoryLeft();
    ExpectLogEnd("setup failed", 0);
}

// Copies of the program with one byte of a stored payload changed, in its first, a middle and
// its last chunk, or with the checksums resource removed or cut short: nothing of a damaged
// payload runs, and the run fails as any failed installer step does.
TEST_F(Install, DamagedPayloadIsNotRun)
{
    const struct
    {
        const char* copy;
        bool setupRuns;
        bool wmfdistRuns;
        const char* logged;   // the log's line of the failure
    } cases[] = {{"207-first", false, false, "payload 207: damaged: CRC-32 "},
                 {"207-middle", false, false, "payload 207: damaged: CRC-32 "},
                 {"207-last", false, false, "payload 207: damaged: CRC-32 "},
                 {"203-first", true, false, "payload 203: damaged: CRC-32 "},
                 {"203-middle", true, false, "payload 203: damaged: CRC-32 "},
                 {"203-last", true, false, "payload 203: damaged: CRC-32 "},
                 {"209-removed", true, true, "payload 203: "},
                 {"209-short", false, false,
                  "payload 207: damaged: the checksums resource 209 is not 8 bytes long"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.copy);
        SetupRun run = Run("/Silent");
        run.exe = ProgramDir() + "damaged\\" + c.copy + ".exe";
        RunResult result = RunSetup(run);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ(c.wmfdistRuns ? Lines{} : Lines{Messages::Failed()}, Texts(result))
            << "message 111 also under /Silent";
        EXPECT_EQ(c.setupRuns, Find("setup end") >= 0) << "setup.exe ran to its end";
        EXPECT_EQ(c.wmfdistRuns, Find("wmfdist start") >= 0) << "wmfdist.exe ran";
        for (const std::string& name : ListFolder(m_Temp))
            EXPECT_TRUE(name == "events.log" || name == "run.log" || name == "dest") << name << " is left behind";
        const Lines events = RunLog();
        EXPECT_NE(events.end(), std::find_if(events.begin(), events.end(), [&](const std::string& e) {
            return e.compare(0, strlen(c.logged), c.logged) == 0; })) << c.logged;
        ExpectLogEnd(c.wmfdistRuns ? "completed" : "setup failed", 0);
        RemoveTree(m_LogPath);
    }
}

// The temporary folder's drive passes the check and is filled up by another program while the
// destination dialog stands: the archive cannot be written. That is short space (113), not a
// damaged setup file (111); the run ends as a failed install stage does, its work directory
// removed, exit code 0.
TEST_F(Install, DriveFilledWhileWritingShowsMessage113)
{
    const char* drive = getenv("PIVORA_ROOMY_DRIVE");
    if (!drive || !*drive)
        GTEST_SKIP() << "no drive S: mapped";
    const std::string temp = std::string(drive) + "\\", filler = temp + "filler.bin";
    SetupRun run = Run();
    run.environment[0].second = run.environment[1].second = temp;
    const auto typeDestination = run.onDestination;
    run.onDestination = [&](HWND dialog) {
        HANDLE file = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
        const std::string piece(64 * 1024, 'f');
        DWORD written = 0;
        while (WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &written, NULL) &&
               written == piece.size())
            ;
        CloseHandle(file);
        return typeDestination(dialog);
    };
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(Lines{Messages::NoSpace()}, Texts(result));
    EXPECT_EQ(Messages::Caption(), result.messages.at(0).caption);
    EXPECT_EQ(-1, Find("setup start"));
    EXPECT_EQ(-1, Find("wmfdist start"));
    EXPECT_EQ(Lines{"filler.bin"}, ListFolder(temp)) << "the work directory is removed";
    DeleteFileA(filler.c_str());
    // The log names the call, the file and the error.
    const Lines events = RunLog();
    EXPECT_NE(events.end(), std::find_if(events.begin(), events.end(), [&](const std::string& e) {
        return e.find("payload 207: " + temp + "exp") == 0 &&
               e.find("\\PivoraSetup_IS.bin cut short in the chunk from byte 0 of ") != std::string::npos &&
               e.find(": WriteFile failed, error 112 (0x00000070): ") != std::string::npos; }));
    ExpectLogEnd("temporary space ran out while writing", 0);
}

// Temporary folders where the run has no safe work directory: one that is read-only, one so
// deep that the work directory, its backslash and "PivoraSetup_IS.bin" would not fit in MAX_PATH,
// and one whose link leads to a level that Win32 reads as another ("t." as "t", where every name
// of a work directory was made in advance with a file in it). The elevated run works in the
// Windows temporary folder instead, never in a folder it did not make, completes, and leaves
// nothing in either.
TEST_F(Install, WindowsTemporaryFolderWhereTheUsersIsNoPlaceForTheRun)
{
    std::string deep = m_Temp;
    while (deep.size() < 165)
        deep += std::string(60, 'd') + "\\";
    deep += std::string(235 - deep.size() - 1, 'd') + "\\";
    for (size_t pos = m_Temp.size(); (pos = deep.find('\\', pos + 1)) != std::string::npos;)
        CreateDirectoryA(deep.substr(0, pos).c_str(), NULL);
    char windowsTemp[MAX_PATH];
    ASSERT_TRUE(GetWindowsDirectoryA(windowsTemp, MAX_PATH));
    lstrcatA(windowsTemp, "\\Temp\\");
    const char* drive = getenv("PIVORA_READONLY_DRIVE");
    const char* linked = getenv("PIVORA_LINKED_TEMP");
    for (const std::string& temp : {drive && *drive ? std::string(drive) + "\\" : std::string(), deep,
                                    linked ? std::string(linked) : std::string()})
    {
        if (temp.empty())
            continue;   // no such drive or link in this session
        SCOPED_TRACE(temp);
        const Lines before = ListFolder(temp);
        SetupRun run = Run("/Silent");
        run.environment[0].second = run.environment[1].second = temp;
        RunResult result = RunSetup(run);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_TRUE(result.messages.empty());
        EXPECT_GE(Find("wmfdist start"), 0);
        ExpectLogEnd("completed", 0);
        int made = 0;
        for (const std::string& event : RunLog())
        {
            const bool held = event.size() > 30 && event.compare(0, 16, "work directory: ") == 0 &&
                              event.compare(event.size() - 14, 14, " made and held") == 0;
            made += held;
            const size_t at = held ? 16 : event.compare(0, 9, "starting ") == 0 ? 9 : 0;
            if (at)
            {
                EXPECT_EQ(0, _strnicmp(event.c_str() + at, windowsTemp, strlen(windowsTemp))) << event;
            }
        }
        EXPECT_EQ(1, made);
        EXPECT_EQ(before, ListFolder(temp));
        EXPECT_EQ(Lines{}, ListFolder(windowsTemp, "exp*"));
        RemoveTree(m_LogPath);
    }
}

// DirectX older than 9: the DirectX setup beside the media decides how the run goes on.
class DirectX : public Install
{
protected:
    SetupRun MediaRun(const CMediaLayout& media, const std::string& arguments = "")
    {
        SetupRun run = Run(arguments);
        run.exe = media.Program();
        return run;
    }
    COldDirectX m_Old{"PivoraSetup.exe"};
};

TEST_F(DirectX, TooOldWithoutDirectXSetupEndsWithMessage116)
{
    CMediaLayout media(TestProductPath(), NULL);
    ASSERT_FALSE(media.m_Root.empty()) << "no media on the disc drive";
    RunResult result = RunSetup(MediaRun(media, "/Silent"));
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    ASSERT_EQ(Lines{Messages::NoDirectX()}, Texts(result)) << "also under /Silent";
    EXPECT_EQ(std::vector<int>{IDOK}, result.messages[0].buttons);
    EXPECT_FALSE(result.destinationShown);
    EXPECT_EQ("<missing>", ProgramsPath()) << "nothing written yet";
    ExpectNoWorkDirectoryLeft();
    ExpectLogEnd("DirectX too old and no DirectX setup at hand", -1);
}

TEST_F(DirectX, TooOldWithDirectXSetupBesideTheMedia)
{
    // The media in a folder with a blank, and a program planted where the path would be cut at
    // that blank, as a user who can write beside the media could.
    CMediaLayout media(TestProductPath(), "Tools\\DirectX9.0c\\dxsetup.exe", "Vantori Setup\\");
    ASSERT_FALSE(media.m_Root.empty()) << "no media on the disc drive";
    ASSERT_TRUE(CopyFileA((ProgramDir() + "doubles\\fake_dxsetup.exe").c_str(),
                          (media.m_Root + "Vantori.exe").c_str(), FALSE));
    for (int answer : {IDYES, IDNO})
    {
        SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
        std::string workDir;
        SetupRun run = MediaRun(media, "/RunningAsSetupMgr");
        run.onMessage = [&](const SeenMessage& m) {
            if (m.text == Messages::OfferDirectX())
            {
                // While the question stands the installers are done: both programs are gone
                // from the work directory, the archive is still there.
                for (const std::string& line : Log())
                    if (line.compare(0, 15, "wmfdist start \"") == 0)
                        workDir = line.substr(15, line.find("wmfdist.exe") - 15);
                EXPECT_FALSE(FileExists(workDir + "wmfdist.exe"));
                EXPECT_FALSE(FileExists(workDir + "setup.exe"));
                EXPECT_TRUE(FileExists(workDir + "PivoraSetup_IS.bin"));
                return answer;
            }
            return IDOK;
        };
        RunResult result = RunSetup(run);
        EXPECT_EQ(0u, result.exitCode);
        ASSERT_EQ(Lines{Messages::OfferDirectX()}, Texts(result));
        EXPECT_EQ((std::vector<int>{IDYES, IDNO}), result.messages[0].buttons);
        EXPECT_FALSE(workDir.empty());
        int dxsetup = Find("dxsetup start");
        if (answer == IDYES)
        {
            ASSERT_GE(dxsetup, 0);
            EXPECT_NE(std::string::npos,
                      LogLine(dxsetup).find("Disk1\\Tools\\DirectX9.0c\\dxsetup.exe"));
            EXPECT_NE(std::string::npos, LogLine(dxsetup + 1).find(
                "Vantori Setup\\Disk1\\Tools\\DirectX9.0c\\dxsetup.exe")) << "the planted program ran";
            EXPECT_EQ(0xFFFFFFFFu, Abort()) << "a completed run reports no stop";
            ExpectLogEnd("completed", 0);
        }
        else
        {
            EXPECT_EQ(-1, dxsetup);
            EXPECT_EQ(1u, Abort()) << "No to the DirectX setup stops the run";
            ExpectLogEnd("DirectX setup declined", 0);
        }
        RemoveTree(m_LogPath);
    }
}

// The log only when asked for, and never in the way: without the switch no file is left
// anywhere; a log that cannot be written (a missing folder, a read-only drive) leaves the run as
// it is; /Log alone makes a new file named by the time in the temporary folder.
TEST_F(Install, LogOnlyWhenAskedAndNeverInTheWay)
{
    RunResult plain = RunSetup(Run("/Silent", false));
    EXPECT_EQ(0u, plain.exitCode);
    EXPECT_EQ((Lines{"dest", "events.log"}), ListFolder(m_Temp));
    EXPECT_EQ(Lines{}, ListFolder(ProgramDir(), "*.log")) << "the current folder and the program's";
    const char* readOnly = getenv("PIVORA_READONLY_DRIVE");
    for (const std::string& path : {m_Temp + "missing\\run.log", readOnly ? readOnly + std::string("\\run.log") : ""})
    {
        if (path.empty())
            continue;
        SCOPED_TRACE(path);
        RemoveTree(m_LogPath);
        RunResult result = RunSetup(Run("/Silent /Log=" + path, false));
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_TRUE(result.messages.empty());
        EXPECT_GE(Find("wmfdist start"), 0);
        EXPECT_FALSE(FileExists(path));
    }
    EXPECT_EQ((Lines{"dest", "events.log"}), ListFolder(m_Temp));

    RunSetup(Run("/Silent -LOG", false));
    const Lines made = ListFolder(m_Temp, "PivoraSetup-*.log");
    ASSERT_EQ(1u, made.size());
    EXPECT_EQ(strlen("PivoraSetup-20261207-123456.log"), made[0].size()) << made[0];
    EXPECT_EQ("end: completed; exit code 0", ReadLogEvents(m_Temp + made[0]).back());
}

// A failing step's line holds what failed and why: an archive entry that is refused names the
// entry and the rule; an installer that cannot start names the error of CreateProcessA.
TEST_F(Install, LogNamesWhatFailed)
{
    const struct { const char* exe; const char* expected; bool error; } cases[] = {
        {"PivoraSetup_badentry.exe", "archive entry \"..\\setup.exe\" refused: a level ending in a dot or a blank", false},
        {"PivoraSetup_badstart.exe", "setup.exe not started: CreateProcessA failed, error ", true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.exe);
        SetupRun run = Run("/Silent");
        run.exe = ProgramDir() + c.exe;
        RunResult result = RunSetup(run);
        EXPECT_EQ(Lines{Messages::Failed()}, Texts(result));
        const Lines events = RunLog();
        auto failed = std::find_if(events.begin(), events.end(), [&](const std::string& e) {
            return e.find(c.expected) != std::string::npos; });
        ASSERT_NE(events.end(), failed);
        // The error's number and the system's text for it after the colon.
        EXPECT_TRUE(!c.error || failed->find("): ") + 4 < failed->size()) << *failed;
        ExpectLogEnd("setup failed", 0);
    }
}

// A user whose name the ANSI code page lacks, with the media on a disc in a folder of such a name:
// the temporary folder and the program's own path are used in their short forms, never with "?"
// in them, and the run goes through: the installers run, the DirectX setup beside the media is
// found and offered, and nothing is left behind.
TEST_F(DirectX, UserNameOutsideTheCodePage)
{
    const std::wstring user = WideFromUtf8(m_Temp.c_str()) + L"Bj\u00F6rn \uD55C\uAE00\\";
    const std::string disc = MakeTempDir("media", DiscDrive() + "\\");
    ASSERT_FALSE(DiscDrive().empty() || disc.empty()) << "no disc drive";
    const std::wstring temp = user + L"Temp\\", media = WideFromUtf8(disc.c_str()) + L"Bj\u00F6rn \uD55C\uAE00\\";
    const std::wstring disk = media + L"Disk1\\";
    for (const std::wstring& folder : {user, temp, media, disk, disk + L"Setup",
                                       disk + L"Tools", disk + L"Tools\\DirectX9.0c"})
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    ASSERT_TRUE(CopyFileW(WideFromUtf8(TestProductPath().c_str()).c_str(), (disk + L"Setup\\PivoraSetup.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(WideFromUtf8((ProgramDir() + "doubles\\fake_dxsetup.exe").c_str()).c_str(),
                          (disk + L"Tools\\DirectX9.0c\\dxsetup.exe").c_str(), FALSE));
    SetupRun run = Run("/Silent");
    run.wideExe = disk + L"Setup\\PivoraSetup.exe";
    run.environment.erase(run.environment.begin(), run.environment.begin() + 2);
    run.wideEnvironment = {{"TEMP", temp}, {"TMP", temp}};
    run.onMessage = [](const SeenMessage&) { return IDYES; };
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_EQ(1u, result.messages.size());
    EXPECT_EQ(WideFromUtf8(Messages::Utf8(112)), result.messages[0].wideText);
    EXPECT_GE(Find("setup end"), 0);
    EXPECT_GE(Find("dxsetup start"), 0) << "the DirectX setup beside the media was not found";
    // The command lines that the setup made for the programs it started.
    for (const char* started : {"setup start", "wmfdist start", "dxsetup start"})
        EXPECT_EQ(std::string::npos, LogLine(Find(started)).find('?')) << LogLine(Find(started));
    const Lines events = RunLog();
    EXPECT_NE(events.end(), std::find_if(events.begin(), events.end(), [](const std::string& e) {
        return e.find("its short form") != std::string::npos; }));
    ExpectLogEnd("completed", 0);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((temp + L"*").c_str(), &found);
    int entries = 0;
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found))
        entries += found.cFileName[0] != L'.';
    FindClose(find);
    EXPECT_EQ(0, entries) << "left in the temporary folder";
    RemoveTree(disc);
}

} // namespace
