// The kind of the running Windows on each version that Wine can be, and the restart request with
// only ExitWindowsEx replaced, so that nothing is ever restarted.
#include <gtest/gtest.h>
#include <string>
#include "common/TestSupport.h"
#include "system/Restart.h"

namespace {

// GetOsKind in a copy of this program that Wine starts as the given Windows; the copy's exit code
// is its answer. Wine reports each as that Windows does: 95 as 4.0.950, 98 as 4.10.2222, Me as
// 4.90.3000 (the 9x family also keeps major and minor in the build number's high word), NT 3.51,
// NT 4.0, 2000, XP, and 10 as 6.2 to a program without a manifest that says otherwise.
TEST(OsKind, OfEachWindowsVersion)
{
    if (IsTestCopy())
        ExitProcess(GetOsKind());
    const struct { const char* version; OsKind kind; } cases[] = {{"win95", OsKindWin95}, {"win98", OsKindWin98},
        {"winme", OsKindWinMe}, {"nt351", OsKindNT4}, {"nt40", OsKindNT4}, {"win2k", OsKindNT5}, {"winxp", OsKindNT5},
        {"win10", OsKindNT5}};
    for (const auto& c : cases)
        EXPECT_EQ(c.kind, RunTestInCopy("unit_system_os.exe", "", {{"Version", c.version}})) << c.version;
}

// Switches the shutdown privilege of this process off; true when it was on. (Windows reports the
// previous state of the privileges that it changed, Wine of all it was given: an enabled one
// shows either way.)
bool SwitchOffShutdownPrivilege()
{
    HANDLE token = NULL;
    TOKEN_PRIVILEGES off = {1, {{{0, 0}, 0}}}, before = {};
    DWORD size = 0;
    const bool adjusted = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token) &&
                          LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &off.Privileges[0].Luid) &&
                          AdjustTokenPrivileges(token, FALSE, &off, sizeof(before), &before, &size);
    CloseHandle(token);
    return adjusted && before.PrivilegeCount == 1 && (before.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED);
}

std::string g_exit;   // what the restart asked for, and whether it could have had it
BOOL WINAPI NoteExit(UINT flags, DWORD reason)
{
    g_exit = std::to_string(flags) + " " + std::to_string(reason) + (SwitchOffShutdownPrivilege() ? " with" : " without") + " the privilege";
    return FALSE;
}

// ExitWindowsEx restarts Windows (EWX_REBOOT) only for a process whose shutdown privilege is
// enabled: the restart enables it first, in the real token, on the Windows that runs.
TEST(RestartSystem, AsksForTheRestartWithTheShutdownPrivilegeEnabled)
{
    SwitchOffShutdownPrivilege();
    ASSERT_FALSE(SwitchOffShutdownPrivilege()) << "the privilege cannot be switched off";
    RestartSystemWith({OpenProcessToken, LookupPrivilegeValueA, AdjustTokenPrivileges, NoteExit}, GetOsKind());
    EXPECT_EQ(std::to_string(EWX_REBOOT) + " 0 with the privilege", g_exit);
}

} // namespace
