// What the programs that the elevated run starts get from the user: nothing that a process of
// the user could have chosen, neither through the user's environment settings nor by putting a
// DirectX setup beside the media.
#include "e2e/Scenario.h"
#include <algorithm>

namespace {

typedef std::vector<std::string> Lines;

// Values in HKCU\Environment while it lives, as a process of the user can set them.
struct CUserEnvironment
{
    explicit CUserEnvironment(const std::vector<std::pair<std::string, std::string>>& values) : m_Values(values)
    {
        for (const auto& value : m_Values)
            RegSetKeyValueA(HKEY_CURRENT_USER, "Environment", value.first.c_str(), REG_SZ, value.second.c_str(),
                            static_cast<DWORD>(value.second.size() + 1));
    }
    ~CUserEnvironment()
    {
        for (const auto& value : m_Values)
            RegDeleteKeyValueA(HKEY_CURRENT_USER, "Environment", value.first.c_str());
    }
    std::vector<std::pair<std::string, std::string>> m_Values;
};

// A value of the machine's environment, expanded.
std::string MachineValue(const char* name)
{
    char value[4096] = "", expanded[4096] = "";
    DWORD size = sizeof(value);
    RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                 name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, NULL, value, &size);
    ExpandEnvironmentStringsA(value, expanded, sizeof(expanded));
    return expanded;
}

std::string WithoutBackslash(std::string path)
{
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

class Children : public ScenarioTest
{
protected:
    static void SetUpTestSuite() { COldDirectX::RestoreLeftOvers(); }
    // The line "<prefix><rest>" the doubles logged: <rest>; "<none>" when there is none.
    std::string Logged(const std::string& prefix) const
    {
        const int line = Find(prefix);
        return line < 0 ? "<none>" : LogLine(line).substr(prefix.size());
    }
};

// The user's environment settings name a planted folder for ComSpec, windir and Path, and a
// variable of their own; Windows lays them over the environment of every process of the user,
// so the run has them too. The inner installer, the redistributable and the DirectX setup get
// the machine's values and nothing of the user's own; TEMP and TMP name a folder inside the work
// directory, which goes with it; the installers run
// in the work directory, the DirectX setup (where xtsetup.ini says, offered for /LaunchDX9) in
// its own folder.
TEST_F(Children, TakeNoOrdersFromTheUsersEnvironment)
{
    const std::string planted = "C:\\planted";
    CUserEnvironment user({{"ComSpec", planted + "\\evil.exe"}, {"windir", planted}, {"Path", planted},
                           {"PIVORA_USER_VAR", "mine"}});
    CMediaLayout media(TestProductPath(), "Redist\\dx\\install.exe");
    ASSERT_FALSE(media.m_Root.empty()) << "no media on the disc drive";
    CXtSetupIni ini("Redist\\dx\\install.exe");
    char path[8192] = "";
    GetEnvironmentVariableA("Path", path, sizeof(path));
    SetupRun run = Run("/LaunchDX9");
    run.exe = media.Program();
    run.environment.insert(run.environment.end(),
                           {{"ComSpec", planted + "\\evil.exe"}, {"windir", planted},
                            {"Path", std::string(path) + ";" + planted}, {"PIVORA_USER_VAR", "mine"},
                            {"PIVORA_FAKE_ENV_NAMES", "ComSpec;windir;Path;PIVORA_USER_VAR;TEMP;TMP;SystemRoot"}});
    run.onMessage = [](const SeenMessage& m) { return m.text == Messages::OfferDirectX() ? IDYES : IDNO; };
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ((Lines{Messages::OfferDirectX(), Messages::Restart()}), Texts(result));

    const std::string start = Logged("setup start ");
    const std::string workDir = start.substr(0, start.rfind('\\'));
    ASSERT_EQ(0, _strnicmp(workDir.c_str(), m_Temp.c_str(), m_Temp.size())) << start;
    const std::string temp = workDir + "\\PivoraSetup_Temp";
    char systemRoot[MAX_PATH];
    GetWindowsDirectoryA(systemRoot, MAX_PATH);
    for (const char* who : {"setup", "wmfdist", "dxsetup"})
    {
        SCOPED_TRACE(who);
        const std::string env = std::string(who) + " env ";
        EXPECT_EQ(MachineValue("ComSpec"), Logged(env + "ComSpec="));
        EXPECT_EQ(MachineValue("windir"), Logged(env + "windir="));
        EXPECT_EQ(MachineValue("Path"), Logged(env + "Path="));
        EXPECT_EQ(systemRoot, Logged(env + "SystemRoot="));
        EXPECT_GE(Find(env + "PIVORA_USER_VAR unset"), 0);
        EXPECT_EQ(temp, Logged(env + "TEMP="));
        EXPECT_EQ(temp, Logged(env + "TMP="));
    }
    EXPECT_EQ(workDir, WithoutBackslash(Logged("setup cwd=")));
    EXPECT_EQ(workDir, WithoutBackslash(Logged("wmfdist cwd=")));
    EXPECT_EQ(media.m_Media + "Disk1\\Redist\\dx\\install.exe", Logged("dxsetup program "));
    EXPECT_EQ(media.m_Media + "Disk1\\Redist\\dx", WithoutBackslash(Logged("dxsetup cwd=")));
    EXPECT_TRUE(ListFolder(m_Temp, "exp*").empty()) << "the work directory, its TEMP with it, is left";

    // The log names what was changed, not the values.
    const Lines events = RunLog();
    for (const char* name : {"ComSpec", "windir"})
        EXPECT_NE(events.end(), std::find(events.begin(), events.end(),
                                          std::string("child programs: the machine's value, not the user's, for ") + name));
    EXPECT_NE(events.end(), std::find(events.begin(), events.end(),
                                      "child programs: left out, set by the user alone: PIVORA_USER_VAR"));
    ExpectLogEnd("completed", 0);
}

// A DirectX setup beside media that lie anywhere but on read-only media is never run: on a fixed
// disk, or in the user's own folder (a downloads folder), a process of the user could have put
// it there. With DirectX too old the run ends as without one (116, exit code -1); /LaunchDX9 asks
// nothing.
TEST_F(Children, DirectXSetupOffTheDiscIsNeverRun)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (const std::string& parent : {std::string("C:\\"), std::string(temp)})
    {
        SCOPED_TRACE(parent);
        CMediaLayout media(TestProductPath(), "Tools\\DirectX9.0c\\dxsetup.exe", "", parent);
        ASSERT_FALSE(media.m_Root.empty());
        const std::string refused = "DirectX setup: " + media.m_Media + "Disk1\\Tools\\DirectX9.0c\\dxsetup.exe "
                                    "is on no read-only media (drive type 3, read-only no); not used";
        {
            COldDirectX old("PivoraSetup.exe");
            SetupRun run = Run("/Silent");
            run.exe = media.Program();
            RunResult result = RunSetup(run);
            EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
            EXPECT_EQ(Lines{Messages::NoDirectX()}, Texts(result));
            const Lines events = RunLog();
            EXPECT_NE(events.end(), std::find(events.begin(), events.end(), refused));
            ExpectLogEnd("DirectX too old and no DirectX setup at hand", -1);
        }
        SetupRun run = Run("/LaunchDX9");
        run.exe = media.Program();
        run.onMessage = [](const SeenMessage&) { return IDNO; };
        RunResult result = RunSetup(run);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ(Lines{Messages::Restart()}, Texts(result)) << "no DirectX question";
        EXPECT_EQ(-1, Find("dxsetup start"));
        ExpectLogEnd("completed", 0);
        RemoveTree(m_LogPath);
    }
}

} // namespace
