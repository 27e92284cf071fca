// The demo payload under Wine: the inner installer's window, Install, Cancel and the missing
// destination, and the quiet run of the demo redistributable. They run from the folder that the
// build staged for packing, as they would from the work directory of a real run.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "common/DialogDriver.h"
#include "common/TestSupport.h"

namespace
{
const char kPivoraKey[] = "Software\\Halvoro\\PIVORA";
const int kDestinationId = 1001;
const DWORD kExitCancelled = 1602;
const DWORD kExitFailed = 1603;

std::string DemoInstallerDir() { return TestsDir() + "..\\payload\\demo-installer\\"; }
std::string DemoWmfDist() { return TestsDir() + "..\\demo\\bin\\wmfdist.exe"; }

// A started program; the test ends it if it is still running.
class CChild
{
public:
    CChild() { ZeroMemory(&m_Info, sizeof(m_Info)); }
    ~CChild()
    {
        if (m_Info.hProcess)
        {
            TerminateProcess(m_Info.hProcess, 1);
            WaitForSingleObject(m_Info.hProcess, 5000);
            CloseHandle(m_Info.hProcess);
            CloseHandle(m_Info.hThread);
        }
    }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    bool Start(const std::string& commandLine)
    {
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof(startup));
        startup.cb = sizeof(startup);
        std::string line = commandLine;
        return CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &m_Info) != FALSE;
    }
    // The exit code, or STILL_ACTIVE when the program did not end in time.
    DWORD WaitExit(DWORD timeoutMs)
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(m_Info.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_Info.hProcess, &code);
        return code;
    }
    // The installer's window, which must belong to this process.
    HWND WaitForInstallerWindow()
    {
        HWND dlg = WaitForWindow(Sjis(u8"Morvane インストーラ").c_str(), "#32770", 10000);
        DWORD owner = 0;
        if (dlg)
            GetWindowThreadProcessId(dlg, &owner);
        return owner == m_Info.dwProcessId ? dlg : NULL;
    }
    DWORD Id() const { return m_Info.dwProcessId; }

private:
    PROCESS_INFORMATION m_Info;
};

// The hand-off values that these tests change, put back as they were afterwards.
class CSavedValue
{
public:
    explicit CSavedValue(const char* name) : m_pszName(name), m_bHad(false), m_dwType(0), m_dwSize(sizeof(m_Data))
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS)
        {
            m_bHad = RegQueryValueExA(key, name, NULL, &m_dwType, m_Data, &m_dwSize) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    ~CSavedValue()
    {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
            return;
        if (m_bHad)
            RegSetValueExA(key, m_pszName, 0, m_dwType, m_Data, m_dwSize);
        else
            RegDeleteValueA(key, m_pszName);
        RegCloseKey(key);
    }
    CSavedValue(const CSavedValue&) = delete;
    CSavedValue& operator=(const CSavedValue&) = delete;

private:
    const char* m_pszName;
    bool m_bHad;
    DWORD m_dwType;
    DWORD m_dwSize;
    BYTE m_Data[1024];
};

void SetProgramsPath(const std::string* path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, NULL, 0,
                                             KEY_SET_VALUE, NULL, &key, NULL));
    if (path)
        RegSetValueExA(key, "ProgramsPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                       static_cast<DWORD>(path->size() + 1));
    else
        RegDeleteValueA(key, "ProgramsPath");
    RegDeleteValueA(key, "CANCELED");
    RegCloseKey(key);
}

// CANCELED as (found, type, value).
void ReadCanceled(bool* found, DWORD* type, DWORD* value)
{
    *found = false;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD size = sizeof(*value);
    *found = RegQueryValueExA(key, "CANCELED", NULL, type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
}
} // namespace

TEST(DemoPayload, InnerInstaller)
{
    CSavedValue savedPath("ProgramsPath");
    CSavedValue savedCanceled("CANCELED");
    const std::string setup = "\"" + DemoInstallerDir() + "setup.exe\"";
    const std::string temp = MakeTempDir("demo");
    const std::string destination = temp + "Morvane Samples\\";
    bool found;
    DWORD type = 0, value = 0;

    // Install, by the default button: the folder is made and the sample files land in it.
    {
        SetProgramsPath(&destination);
        CChild child;
        ASSERT_TRUE(child.Start(setup)) << "error " << GetLastError();
        HWND dlg = child.WaitForInstallerWindow();
        ASSERT_NE((HWND)NULL, dlg);
        EXPECT_EQ(destination, GetControlText(dlg, kDestinationId));
        LRESULT defId = SendMessageA(dlg, DM_GETDEFID, 0, 0);
        EXPECT_EQ(MAKELONG(IDOK, DC_HASDEFID), defId);
        EXPECT_TRUE(HasControl(dlg, IDCANCEL));
        EXPECT_TRUE(SaveWindowPng(dlg, ScreenshotPath("demo_setup")));
        PressButton(dlg, LOWORD(defId));
        EXPECT_EQ(0u, child.WaitExit(10000));
        const char* samples[] = { "Readme.txt", "Welcome.txt", "Settings.ini" };
        for (const char* sample : samples)
        {
            std::string name = sample;
            std::string expected, got;
            ASSERT_TRUE(ReadFileBytes(DemoInstallerDir() + name, &expected)) << name;
            EXPECT_TRUE(ReadFileBytes(destination + name, &got)) << destination + name;
            EXPECT_EQ(expected, got) << name;
        }
        ReadCanceled(&found, &type, &value);
        EXPECT_FALSE(found) << "CANCELED = " << value;
    }

    // Cancel: CANCELED = 1 for the bootstrapper, nothing installed.
    {
        const std::string other = temp + "cancelled\\";
        SetProgramsPath(&other);
        CChild child;
        ASSERT_TRUE(child.Start(setup));
        HWND dlg = child.WaitForInstallerWindow();
        ASSERT_NE((HWND)NULL, dlg);
        PressButton(dlg, IDCANCEL);
        EXPECT_EQ(kExitCancelled, child.WaitExit(10000));
        ReadCanceled(&found, &type, &value);
        EXPECT_TRUE(found);
        EXPECT_EQ((DWORD)REG_DWORD, type);
        EXPECT_EQ(1u, value);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(other.c_str()));
    }

    // No destination recorded: the window says so, Install explains and fails.
    {
        SetProgramsPath(NULL);
        CChild child;
        ASSERT_TRUE(child.Start(setup));
        HWND dlg = child.WaitForInstallerWindow();
        ASSERT_NE((HWND)NULL, dlg);
        EXPECT_EQ(Sjis(u8"(未設定)"), GetControlText(dlg, kDestinationId));
        PressButton(dlg, IDOK);
        HWND box = WaitForMessageBox(10000, child.Id());
        ASSERT_NE((HWND)NULL, box);
        EXPECT_EQ(Sjis(u8"インストール先が設定されていません。"), GetMessageBoxText(box));
        PressButton(box, IDOK);
        EXPECT_EQ(kExitFailed, child.WaitExit(10000));
        ReadCanceled(&found, &type, &value);
        EXPECT_FALSE(found);
    }
    RemoveTree(temp);
}

TEST(DemoPayload, RedistributableQuietRun)
{
    CChild child;
    ASSERT_TRUE(child.Start("\"" + DemoWmfDist() + "\" /Q"));
    EXPECT_EQ(0u, child.WaitExit(10000));
    EXPECT_EQ((HWND)NULL, FindProcessWindow(child.Id(), NULL));
}
