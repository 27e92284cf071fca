// The restart itself, in a Wine session of its own (tests/e2e/CMakeLists.txt): on ExitWindowsEx
// (EWX_REBOOT) Wine ends the session and runs the RunOnce commands, as Windows does when it
// starts again. The unit test of the restart shows that the shutdown privilege is enabled first.
#include "e2e/Scenario.h"

namespace {

class Restart : public ScenarioTest
{
};

const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

bool RunOncePending()
{
    HKEY key;
    const bool pending = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) ==
                             ERROR_SUCCESS && RegQueryValueExA(key, "PivoraFakeSetup", NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return pending;
}

// The inner installer registers a RunOnce command that writes a marker, as installers that
// finish at the next start do. After Yes to message 110 the restart is under way: the command
// runs. After No nothing restarts: the command is still waiting when twice the time that it took
// to run after Yes has passed.
TEST_F(Restart, AskedForOnYesOnly)
{
    const std::string marker = m_Temp + "restarted.txt";
    DWORD restartMs = 0;
    for (int answer : {IDYES, IDNO})
    {
        SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
        DeleteFileA(marker.c_str());
        SetupRun run = Run();
        run.environment.push_back({"PIVORA_FAKE_SETUP_RUNONCE", marker});
        run.onMessage = [answer](const SeenMessage&) { return answer; };
        const RunResult result = RunSetup(run);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ(std::vector<std::string>{Messages::Restart()}, Texts(result));
        ASSERT_GE(Find("setup runonce registered"), 0);
        const DWORD start = GetTickCount();
        const DWORD limit = answer == IDYES ? 30000 : 2 * restartMs + 1000;
        while (!FileExists(marker) && GetTickCount() - start < limit)
            Sleep(50);
        if (answer == IDYES)
        {
            restartMs = GetTickCount() - start;
            EXPECT_TRUE(FileExists(marker)) << "no restart was asked for";
            EXPECT_FALSE(RunOncePending());
        }
        else
        {
            EXPECT_FALSE(FileExists(marker)) << "a restart was asked for";
            EXPECT_TRUE(RunOncePending());
            ExpectLogEnd("completed", 0);
        }
        RemoveTree(m_LogPath);
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS)
        RegDeleteValueA(key, "PivoraFakeSetup"), RegCloseKey(key);
}

} // namespace
