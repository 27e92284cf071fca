// The demo payload's inner installer under Wine, run from the folder that the build staged for
// packing, as it would run from the work directory of a real run: Install, Cancel, and Install
// without a destination. (A whole run with the demo payload is one of the install tests.)
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"

TEST(DemoPayload, InnerInstaller)
{
    const std::string setup = ProgramDir() + "..\\payload\\demo-installer\\setup.exe";
    const std::string temp = MakeTempDir("demo");
    // The hand-off values of the bootstrapper, in the 32-bit view in either flavour.
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvoro\\PIVORA", 0, NULL,
                                             0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &key, NULL));
    const struct { std::string destination; int press; DWORD exitCode, canceled; std::string shown, message; } cases[] = {
        // Install: the folder is made and the samples land in it.
        {temp + "Morvane Samples\\", IDOK, 0, 0, "", ""},
        // Cancel: CANCELED = 1 for the bootstrapper, nothing installed.
        {temp + "cancelled\\", IDCANCEL, 1602, 1, "", ""},
        // No destination recorded: the window says so, Install explains and fails.
        {"", IDOK, 1603, 0, Sjis(u8"(未設定)"), Sjis(u8"インストール先が設定されていません。")},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.destination);
        if (c.destination.empty())
            RegDeleteValueA(key, "ProgramsPath");
        else
            RegSetValueExA(key, "ProgramsPath", 0, REG_SZ, (const BYTE*)c.destination.c_str(),
                           DWORD(c.destination.size() + 1));
        RegDeleteValueA(key, "CANCELED");
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        std::string line = "\"" + setup + "\"";
        ASSERT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
        HWND dlg = WaitForWindow(Sjis(u8"Morvane インストーラ").c_str(), "#32770", 10000);
        DWORD owner = 0, exitCode = STILL_ACTIVE, canceled = 0, size = sizeof(canceled);
        GetWindowThreadProcessId(dlg, &owner);
        EXPECT_EQ(process.dwProcessId, owner) << "the installer's window";
        EXPECT_EQ(c.shown.empty() ? c.destination : c.shown, GetControlText(dlg, 1001));
        PressButton(dlg, c.press);
        if (!c.message.empty())
        {
            HWND box = WaitForMessageBox(10000, process.dwProcessId);
            EXPECT_EQ(c.message, GetMessageBoxText(box));
            PressButton(box, IDOK);
        }
        if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        EXPECT_EQ(c.exitCode, exitCode);
        RegQueryValueExA(key, "CANCELED", NULL, NULL, (BYTE*)&canceled, &size);
        EXPECT_EQ(c.canceled, canceled);
        for (const char* name : {"Readme.txt", "Welcome.txt", "Settings.ini"})
        {
            std::string expected, got;
            ASSERT_TRUE(ReadFileBytes(setup.substr(0, setup.size() - 9) + name, &expected)) << name;
            EXPECT_TRUE(c.exitCode || (ReadFileBytes(c.destination + name, &got) && got == expected))
                << name;
        }
        EXPECT_TRUE(!c.exitCode || c.destination.empty() || !FileExists(c.destination));
    }
    RegDeleteValueA(key, "ProgramsPath");   // the hand-off values are left as a fresh machine has them
    RegDeleteValueA(key, "CANCELED");
    RegCloseKey(key);
    RemoveTree(temp);
}
