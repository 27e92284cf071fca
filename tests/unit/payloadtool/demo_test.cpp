// The demo payload under Wine: the inner installer's window, Install, Cancel and the missing
// destination, and the quiet run of the demo redistributable. They run from the folder that the
// build staged for packing, as they would from the work directory of a real run.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"

namespace
{
const char kPivoraKey[] = "Software\\Halvoro\\PIVORA";
const int kDestinationId = 1001;

std::string DemoInstallerDir() { return ProgramDir() + "..\\payload\\demo-installer\\"; }

// A started program; the test ends it if it is still running.
class CChild
{
public:
    explicit CChild(const std::string& commandLine)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        std::string line = commandLine;
        m_bStarted = CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &m_Info) != FALSE;
    }
    ~CChild()   // nothing to do for a program that was not started: its handles are null
    {
        TerminateProcess(m_Info.hProcess, 1);
        WaitForSingleObject(m_Info.hProcess, 5000);
        CloseHandle(m_Info.hProcess);
        CloseHandle(m_Info.hThread);
    }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    // The exit code, or STILL_ACTIVE when the program did not end in time.
    DWORD WaitExit()
    {
        DWORD code = STILL_ACTIVE;
        return WaitForSingleObject(m_Info.hProcess, 10000) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(m_Info.hProcess, &code) ? code : STILL_ACTIVE;
    }
    // The installer's window "Morvane インストーラ", which must belong to this process.
    HWND WaitForInstallerWindow()
    {
        HWND dlg = WaitForWindow(Sjis(u8"Morvane インストーラ").c_str(), "#32770", 10000);
        DWORD owner = 0;
        if (dlg)
            GetWindowThreadProcessId(dlg, &owner);
        return owner == m_Info.dwProcessId ? dlg : NULL;
    }

    bool m_bStarted;
    PROCESS_INFORMATION m_Info = {};
};

// Sets ProgramsPath (removed when null) and removes CANCELED, the bootstrapper's hand-off.
// The 32-bit view, where the demo keeps the hand-off values in either flavour.
void SetProgramsPath(const std::string* path)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, NULL, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    if (path)
        RegSetValueExA(key, "ProgramsPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                       static_cast<DWORD>(path->size() + 1));
    else
        RegDeleteValueA(key, "ProgramsPath");
    RegDeleteValueA(key, "CANCELED");
    RegCloseKey(key);
}

// CANCELED as "type value", or "none".
std::string ReadCanceled()
{
    DWORD type = 0, value = 0, size = sizeof(value);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return "none";
    LONG rc = RegQueryValueExA(key, "CANCELED", NULL, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::to_string(type) + " " + std::to_string(value) : "none";
}
} // namespace

TEST(DemoPayload, InnerInstaller)
{
    const std::string setup = "\"" + DemoInstallerDir() + "setup.exe\"";
    const std::string temp = MakeTempDir("demo");
    const std::string destination = temp + "Morvane Samples\\", cancelled = temp + "cancelled\\";
    {
        SCOPED_TRACE("Install, the default button: the folder is made and the samples land in it");
        SetProgramsPath(&destination);
        CChild child(setup);
        ASSERT_TRUE(child.m_bStarted) << "error " << GetLastError();
        HWND dlg = child.WaitForInstallerWindow();
        ASSERT_NE((HWND)NULL, dlg);
        EXPECT_EQ(destination, GetControlText(dlg, kDestinationId));
        EXPECT_EQ(MAKELONG(IDOK, DC_HASDEFID), SendMessageA(dlg, DM_GETDEFID, 0, 0));
        EXPECT_TRUE(HasControl(dlg, IDCANCEL));
        EXPECT_TRUE(SaveWindowPng(dlg, ScreenshotPath("demo_setup")));
        PressButton(dlg, IDOK);
        EXPECT_EQ(0u, child.WaitExit());
        for (const char* name : {"Readme.txt", "Welcome.txt", "Settings.ini"})
        {
            std::string expected, got;
            ASSERT_TRUE(ReadFileBytes(DemoInstallerDir() + name, &expected)) << name;
            EXPECT_TRUE(ReadFileBytes(destination + name, &got)) << name;
            EXPECT_EQ(expected, got) << name;
        }
        EXPECT_EQ("none", ReadCanceled());
    }
    {
        SCOPED_TRACE("Cancel: CANCELED = 1 for the bootstrapper, nothing installed");
        SetProgramsPath(&cancelled);
        CChild child(setup);
        HWND dlg = child.WaitForInstallerWindow();
        ASSERT_NE((HWND)NULL, dlg);
        PressButton(dlg, IDCANCEL);
        EXPECT_EQ(1602u, child.WaitExit());
        EXPECT_EQ(std::to_string(REG_DWORD) + " 1", ReadCanceled());
        EXPECT_FALSE(FileExists(cancelled));
    }
    {
        SCOPED_TRACE("no destination recorded: the window says so, Install explains and fails");
        SetProgramsPath(NULL);
        CChild child(setup);
        HWND dlg = child.WaitForInstallerWindow();
        ASSERT_NE((HWND)NULL, dlg);
        EXPECT_EQ(Sjis(u8"(未設定)"), GetControlText(dlg, kDestinationId));
        PressButton(dlg, IDOK);
        HWND box = WaitForMessageBox(10000, child.m_Info.dwProcessId);
        ASSERT_NE((HWND)NULL, box);
        EXPECT_EQ(Sjis(u8"インストール先が設定されていません。"), GetMessageBoxText(box));
        PressButton(box, IDOK);
        EXPECT_EQ(1603u, child.WaitExit());
        EXPECT_EQ("none", ReadCanceled());
    }
    SetProgramsPath(NULL);   // the hand-off values are left as a fresh machine has them
    RemoveTree(temp);
}

TEST(DemoPayload, RedistributableQuietRun)
{
    CChild child("\"" + ProgramDir() + "..\\demo\\bin\\wmfdist.exe\" /Q");
    ASSERT_TRUE(child.m_bStarted);
    EXPECT_EQ(0u, child.WaitExit());
    EXPECT_EQ((HWND)NULL, FindProcessWindow(child.m_Info.dwProcessId, NULL));
}
