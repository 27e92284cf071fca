#include "e2e/Scenario.h"
#include "driver/DialogDriver.h"
#include <fstream>

const char kPivoraKey[] = "Software\\Halvoro\\PIVORA";
const char kSetupMgrKey[] = "Software\\Halvoro\\SetupMgr";

const char* Messages::Utf8(int id)
{
    switch (id)
    {
    case 108: return u8"Vantori セットアップ";
    case 110: return u8"セットアップを完了するために、システムを再起動する必要があります。\n今すぐ、再起動しますか？";
    case 111: return u8"セットアップ中に問題が発生しました。\nこのセットアップファイルは破損している可能性があります。";
    case 112: return u8"「Vantori」を使用するためにはDirectX 9.0c以上が必要です。\nここでセットアップを行いますか？";
    case 113: return u8"セットアップで使用する一時ファイルを作成するために必要な空き領域が不足しています。\nセットアップを中止しました。";
    case 116: return u8"「Vantori」を使用するためにはDirectX 9.0c以上がインストールされている必要があります。";
    case 120: return u8"セットアップは中断されました。\n\n「Vantori」をご使用いただくためには、再度セットアップを"
                     u8"実行し、セットアップを完了する必要があります。";
    }
    return "";
}

std::wstring WideFromUtf8(const char* utf8)
{
    wchar_t wide[1024];
    return MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 1024) ? wide : L"";
}

void ScenarioTest::SetUp()
{
    for (const char* name : {"ProgramsPath", "Path", "CANCELED", "RequireReboot"})
        DeleteValue(kPivoraKey, name);
    DeleteValue(kSetupMgrKey, "Abort");
    m_Temp = MakeTempDir("e2e");
    ASSERT_FALSE(m_Temp.empty());
    m_LogPath = m_Temp + "events.log";
    m_RunLog = m_Temp + "run.log";
    m_Destination = m_Temp + "dest\\Halvoro\\Pivora";
}

void ScenarioTest::TearDown()
{
    for (const char* name : {"ProgramsPath", "Path", "CANCELED"})
        DeleteValue(kPivoraKey, name);
    DeleteValue(kSetupMgrKey, "Abort");
    RemoveTree(m_Temp);
}

SetupRun ScenarioTest::Run(const std::string& arguments, bool withLog)
{
    SetupRun run;
    run.exe = ProgramDir() + "PivoraSetup_e2e.exe";
    run.arguments = withLog ? arguments + " /Log=" + m_RunLog : arguments;
    run.environment = {{"TEMP", m_Temp}, {"TMP", m_Temp}, {"PIVORA_FAKE_LOG", m_LogPath}};
    std::string destination = m_Destination;
    run.onDestination = [destination](HWND dialog) {
        SetControlText(dialog, 1005, destination.c_str());
        return IDOK;
    };
    return run;
}

void ScenarioTest::ExpectLogEnd(const char* end, int exitCode) const
{
    const std::vector<std::string> events = RunLog();
    EXPECT_EQ("end: " + std::string(end) + "; exit code " + std::to_string(exitCode),
              events.empty() ? "<no log>" : events.back());
    for (const std::string& event : events)
        EXPECT_NE(0, event.compare(0, 10, "<bad line>")) << event;
}

std::vector<std::string> ScenarioTest::Log() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_LogPath.c_str());
    for (std::string line; std::getline(in, line);)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string ScenarioTest::LogLine(int i) const
{
    std::vector<std::string> lines = Log();
    return i >= 0 && i < (int)lines.size() ? lines[i] : std::string("<none>");
}

int ScenarioTest::Find(const std::string& prefix) const
{
    std::vector<std::string> lines = Log();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].compare(0, prefix.size(), prefix) == 0)
            return (int)i;
    return -1;
}

std::vector<std::string> ScenarioTest::Texts(const RunResult& result)
{
    std::vector<std::string> texts;
    for (const SeenMessage& message : result.messages)
        texts.push_back(message.text);
    return texts;
}

std::string DiscDrive()
{
    const char* drive = getenv("PIVORA_DISC_DRIVE");
    return drive ? drive : "";
}

CMediaLayout::CMediaLayout(const std::string& product, const char* dxSetupBelowDisk1,
                           const std::string& below, const std::string& parent)
    : m_Root(!parent.empty() ? MakeTempDir("media", parent)
                             : DiscDrive().empty() ? "" : MakeTempDir("media", DiscDrive() + "\\")),
      m_Media(m_Root + below)
{
    if (m_Root.empty())
        return;
    for (const char* folder : {"", "Disk1", "Disk1\\Setup"})
        CreateDirectoryA((m_Media + folder).c_str(), NULL);
    CopyFileA(product.c_str(), Program().c_str(), FALSE);
    if (!dxSetupBelowDisk1)
        return;
    std::string target = m_Media + "Disk1\\" + dxSetupBelowDisk1;
    for (size_t pos = m_Root.size(); (pos = target.find('\\', pos + 1)) != std::string::npos;)
        CreateDirectoryA(target.substr(0, pos).c_str(), NULL);
    CopyFileA((ProgramDir() + "doubles\\fake_dxsetup.exe").c_str(), target.c_str(), FALSE);
}

CMediaLayout::~CMediaLayout()
{
    if (!m_Root.empty())
        RemoveTree(m_Root);
}

namespace {

// A file of the Windows directory, or of the system folder (the one the program sees).
std::string WindowsFile(const char* name, UINT (WINAPI* folder)(LPSTR, UINT) = GetWindowsDirectoryA)
{
    char dir[MAX_PATH];
    folder(dir, sizeof(dir));
    return std::string(dir) + "\\" + name;
}
std::string SystemFile(const char* name) { return WindowsFile(name, GetSystemDirectoryA); }

} // namespace

CXtSetupIni::CXtSetupIni(const char* value)
{
    WritePrivateProfileStringA("Setup", "DX", value, "xtsetup.ini");
}

CXtSetupIni::~CXtSetupIni()
{
    DeleteFileA(WindowsFile("xtsetup.ini").c_str());
}

COldDirectX::COldDirectX(const char* programName)
    : m_Overrides(programName, "\\DllOverrides", {{"dxdiagn", ""}, {"d3d9", "native"}}),
      m_bMoved(MoveFileA(SystemFile("d3d9.dll").c_str(), SystemFile("d3d9.dll.e2e").c_str()) != 0)
{
}

COldDirectX::~COldDirectX()
{
    if (m_bMoved)
        MoveFileA(SystemFile("d3d9.dll.e2e").c_str(), SystemFile("d3d9.dll").c_str());
}

void COldDirectX::RestoreLeftOvers()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\PivoraSetup.exe");
    if (GetFileAttributesA(SystemFile("d3d9.dll.e2e").c_str()) != INVALID_FILE_ATTRIBUTES)
        MoveFileA(SystemFile("d3d9.dll.e2e").c_str(), SystemFile("d3d9.dll").c_str());
}
