// A run killed while its inner installer works, and what the next run makes of its leftovers.
#include "e2e/Scenario.h"
#include <algorithm>

namespace {

typedef std::vector<std::string> Lines;

class KilledRun : public ScenarioTest
{
protected:
    // A run killed (TerminateProcess) while its inner installer runs; the installer ends by
    // itself a little later, as a real one would. The work directory it left.
    std::string KillWhileTheInstallerRuns()
    {
        SetupRun run = Run();
        run.environment.push_back({"PIVORA_FAKE_SETUP_RUN_MS", "3000"});
        run.onIdle = [this](DWORD pid) {
            if (Find("setup window shown") < 0)
                return;
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
            TerminateProcess(process, 0xDEAD);
            CloseHandle(process);
        };
        EXPECT_EQ(0xDEADu, RunSetup(run).exitCode);
        for (int i = 0; i < 100 && Find("setup end") < 0; ++i)
            Sleep(100);
        const Lines left = ListFolder(m_Temp, "exp*");
        EXPECT_EQ(1u, left.size()) << "the killed run left its work directory";
        EXPECT_TRUE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
        return left.empty() ? "<none>" : left[0];
    }
    bool Logged(const std::string& prefix) const
    {
        const Lines events = RunLog();
        return std::any_of(events.begin(), events.end(),
                           [&](const std::string& e) { return e.compare(0, prefix.size(), prefix) == 0; });
    }
};

// The next run, which completes, removes the killed run's directory: afterwards nothing of
// either is in the temporary folder. The cleaning changes no hand-off value (the killed run's
// ProgramsPath and Abort are still as it left them when the next run asks for its destination),
// and the mutex still keeps a third copy out, which touches nothing.
TEST_F(KilledRun, NextRunRemovesItsWorkDirectory)
{
    SetDwordValue(kSetupMgrKey, "Abort", 7);
    const std::string left = KillWhileTheInstallerRuns();
    for (const char* file : {"setup.exe", "PivoraSetup_IS.bin", "readme.txt"})
        EXPECT_TRUE(FileExists(m_Temp + left + "\\" + file)) << file;

    SetupRun run = Run();
    run.onMessage = [](const SeenMessage&) { return IDNO; };
    std::string programsPath;
    DWORD abort = 0;
    RunResult third;
    bool recordedWhileThirdRan = false;
    const auto typeDestination = run.onDestination;
    run.onDestination = [&](HWND dialog) {
        ReadStringValue(kPivoraKey, "ProgramsPath", &programsPath);
        ReadDwordValue(kSetupMgrKey, "Abort", &abort);
        SetupRun copy;
        copy.environment = {{"TEMP", m_Temp}, {"TMP", m_Temp}};
        copy.timeoutMs = 20000;
        third = RunSetup(copy);
        recordedWhileThirdRan = ValueExists(kPivoraKey, "SetupWorkDirectory");
        return typeDestination(dialog);
    };
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(Lines{Messages::Restart()}, Texts(result)) << "the run completes";
    EXPECT_EQ(m_Destination + "\\", programsPath);
    EXPECT_EQ(7u, abort);
    EXPECT_EQ(0xFFFFFFFFu, third.exitCode) << "the mutex keeps the third copy out";
    EXPECT_TRUE(recordedWhileThirdRan) << "the third copy took the running one's record";
    EXPECT_EQ((Lines{"dest", "events.log", "run.log"}), ListFolder(m_Temp));
    EXPECT_FALSE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
    EXPECT_TRUE(Logged("earlier work directory: removed"));
    ExpectLogEnd("completed", 0);
}

// The killed run's directory replaced by another of the same name: that one is left as it is,
// and the record goes.
TEST_F(KilledRun, ReplacedDirectoryIsLeftAlone)
{
    // The new one is made while the old one still exists: Wine's file ID is the inode number,
    // which ext4 hands out again as soon as it is free.
    const std::string left = m_Temp + KillWhileTheInstallerRuns();
    ASSERT_TRUE(MoveFileA(left.c_str(), (left + ".old").c_str()));
    ASSERT_TRUE(CreateDirectoryA(left.c_str(), NULL));
    RemoveTree(left + ".old");
    ASSERT_TRUE(WriteFileBytes(left + "\\mine.txt", "the user's own"));

    // A run that ends at its space check, before it records a directory of its own: a temporary
    // folder that does not exist.
    SetupRun run = Run("/Silent");
    run.environment[0].second = run.environment[1].second = m_Temp + "missing\\";
    RunResult result = RunSetup(run);
    EXPECT_EQ(Lines{Messages::NoSpace()}, Texts(result));
    EXPECT_EQ(Lines{"mine.txt"}, ListFolder(left + "\\"));
    EXPECT_FALSE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
    EXPECT_TRUE(Logged("earlier work directory: the name now belongs to another"));
    ExpectLogEnd("too little temporary space", -1);
}

} // namespace
