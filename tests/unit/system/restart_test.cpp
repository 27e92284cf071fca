// Classification of the Windows version and the restart request, with the calls replaced so
// that nothing is ever restarted.
#include <gtest/gtest.h>
#include <string>
#include "system/Restart.h"

namespace {

TEST(OsKind, Classification)
{
    // The 9x family keeps major and minor in the high word of the build number.
    const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS, kNT = VER_PLATFORM_WIN32_NT;
    const struct { bool queryOk; DWORD platform, major, build; OsKind kind; } cases[] = {
        {true, k9x, 4, 1353, OsKindWin95}, {true, k9x, 4, 1354, OsKindWin98},
        {true, k9x, 4, 2999, OsKindWin98}, {true, k9x, 4, 3000, OsKindWinMe},
        {true, k9x, 4, 0x040A0000 | 2222, OsKindWin98}, {true, k9x, 4, 0x04000000 | 950, OsKindWin95},
        {true, kNT, 4, 1381, OsKindNT4}, {true, kNT, 3, 1057, OsKindNT4},
        {true, kNT, 5, 2600, OsKindNT5}, {true, kNT, 10, 19045, OsKindNT5},
        {false, kNT, 10, 1, OsKindWin95}, {true, VER_PLATFORM_WIN32s, 3, 1, OsKindWin95}};
    for (const auto& c : cases)
    {
        OSVERSIONINFOA info = {};
        info.dwOSVersionInfoSize = sizeof(info);
        info.dwPlatformId = c.platform;
        info.dwMajorVersion = c.major;
        info.dwBuildNumber = c.build;
        EXPECT_EQ(c.kind, ClassifyOs(c.queryOk, info)) << c.platform << " " << c.major << " " << c.build;
    }
    EXPECT_EQ(OsKindNT5, GetOsKind()) << "Wine reports a Windows of the NT family";
}

// The calls of one restart, with their arguments.
std::string g_calls;
bool g_tokenOpens;

BOOL WINAPI FakeOpenProcessToken(HANDLE, DWORD access, PHANDLE token)
{
    g_calls += "open(" + std::to_string(access) + ") ";
    *token = g_tokenOpens ? CreateEventA(NULL, FALSE, FALSE, NULL) : NULL;   // CloseHandle takes it
    return g_tokenOpens;
}
BOOL WINAPI FakeLookup(LPCSTR, LPCSTR name, PLUID)
{
    g_calls += std::string("lookup(") + name + ") ";
    return TRUE;
}
BOOL WINAPI FakeAdjust(HANDLE, BOOL, PTOKEN_PRIVILEGES privileges, DWORD, PTOKEN_PRIVILEGES, PDWORD)
{
    g_calls += "adjust(" + std::to_string(privileges->PrivilegeCount) + "," +
               std::to_string(privileges->Privileges[0].Attributes) + ") ";
    return TRUE;
}
BOOL WINAPI FakeExit(UINT flags, DWORD reason)
{
    g_calls += "exit(" + std::to_string(flags) + "," + std::to_string(reason) + ")";
    return FALSE;
}

TEST(RestartSystem, PrivilegeWhereTheFamilyHasOne)
{
    // The shutdown privilege, enabled, for every kind but the 9x family's Windows 98 and Me; the
    // restart (EWX_REBOOT, reason 0) is asked for in any case.
    const std::string withToken = "open(40) lookup(SeShutdownPrivilege) adjust(1,2) exit(2,0)";
    const struct { OsKind kind; bool tokenOpens; std::string calls; } cases[] = {
        {OsKindNT5, true, withToken}, {OsKindNT4, true, withToken}, {OsKindWin95, true, withToken},
        {OsKindWin98, true, "exit(2,0)"}, {OsKindWinMe, true, "exit(2,0)"},
        {OsKindNT5, false, "open(40) exit(2,0)"}};
    for (const auto& c : cases)
    {
        g_calls.clear();
        g_tokenOpens = c.tokenOpens;
        RestartCalls calls = {FakeOpenProcessToken, FakeLookup, FakeAdjust, FakeExit};
        RestartSystemWith(calls, c.kind);
        EXPECT_EQ(c.calls, g_calls) << c.kind << " " << c.tokenOpens;
    }
}

} // namespace
