// Classification of the Windows version and the restart request, with the calls replaced so
// that nothing is ever restarted.
#include <gtest/gtest.h>
#include <string>
#include "system/Restart.h"

namespace {

OSVERSIONINFOA Version(DWORD platform, DWORD major, DWORD build)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwBuildNumber = build;
    return info;
}

TEST(OsKind, Classification)
{
    const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ(OsKindWin95, ClassifyOs(true, Version(k9x, 4, 1353)));
    EXPECT_EQ(OsKindWin98, ClassifyOs(true, Version(k9x, 4, 1354)));
    EXPECT_EQ(OsKindWin98, ClassifyOs(true, Version(k9x, 4, 2999)));
    EXPECT_EQ(OsKindWinMe, ClassifyOs(true, Version(k9x, 4, 3000)));
    // The 9x family keeps major and minor in the high word of the build number.
    EXPECT_EQ(OsKindWin98, ClassifyOs(true, Version(k9x, 4, 0x040A0000 | 2222)));
    EXPECT_EQ(OsKindWin95, ClassifyOs(true, Version(k9x, 4, 0x04000000 | 950)));

    EXPECT_EQ(OsKindNT4, ClassifyOs(true, Version(VER_PLATFORM_WIN32_NT, 4, 1381)));
    EXPECT_EQ(OsKindNT4, ClassifyOs(true, Version(VER_PLATFORM_WIN32_NT, 3, 1057)));
    EXPECT_EQ(OsKindNT5, ClassifyOs(true, Version(VER_PLATFORM_WIN32_NT, 5, 2600)));
    EXPECT_EQ(OsKindNT5, ClassifyOs(true, Version(VER_PLATFORM_WIN32_NT, 10, 19045)));

    EXPECT_EQ(OsKindWin95, ClassifyOs(false, Version(VER_PLATFORM_WIN32_NT, 10, 1)));
    EXPECT_EQ(OsKindWin95, ClassifyOs(true, Version(VER_PLATFORM_WIN32s, 3, 1)));

    EXPECT_EQ(OsKindNT5, GetOsKind()) << "Wine reports a Windows of the NT family";
}

// Records the calls of one restart.
std::string g_calls;
bool g_tokenOpens;
UINT g_exitFlags;
DWORD g_exitReason;
DWORD g_privilegeAttributes;

BOOL WINAPI FakeOpenProcessToken(HANDLE, DWORD access, PHANDLE token)
{
    g_calls += "open(" + std::to_string(access) + ") ";
    if (!g_tokenOpens)
        return FALSE;
    *token = CreateEventA(NULL, FALSE, FALSE, NULL);   // any handle that CloseHandle accepts
    return TRUE;
}
BOOL WINAPI FakeLookup(LPCSTR, LPCSTR name, PLUID)
{
    g_calls += std::string("lookup(") + name + ") ";
    return TRUE;
}
BOOL WINAPI FakeAdjust(HANDLE, BOOL, PTOKEN_PRIVILEGES privileges, DWORD, PTOKEN_PRIVILEGES,
                       PDWORD)
{
    g_calls += "adjust(" + std::to_string(privileges->PrivilegeCount) + ") ";
    g_privilegeAttributes = privileges->Privileges[0].Attributes;
    return TRUE;
}
BOOL WINAPI FakeExit(UINT flags, DWORD reason)
{
    g_calls += "exit ";
    g_exitFlags = flags;
    g_exitReason = reason;
    return FALSE;
}

std::string Restart(OsKind kind, bool tokenOpens)
{
    g_calls.clear();
    g_tokenOpens = tokenOpens;
    g_exitFlags = 0xFFFF;
    g_exitReason = 0xFFFF;
    RestartCalls calls = {FakeOpenProcessToken, FakeLookup, FakeAdjust, FakeExit};
    RestartSystemWith(calls, kind);
    return g_calls;
}

TEST(RestartSystem, PrivilegeWhereTheFamilyHasOne)
{
    const std::string withToken = "open(40) lookup(SeShutdownPrivilege) adjust(1) exit ";
    EXPECT_EQ(withToken, Restart(OsKindNT5, true));
    EXPECT_EQ((DWORD)SE_PRIVILEGE_ENABLED, g_privilegeAttributes);
    EXPECT_EQ((UINT)EWX_REBOOT, g_exitFlags);
    EXPECT_EQ(0u, g_exitReason);
    EXPECT_EQ(withToken, Restart(OsKindNT4, true));
    EXPECT_EQ(withToken, Restart(OsKindWin95, true)) << "also for Windows 95 and the unknown";

    EXPECT_EQ("exit ", Restart(OsKindWin98, true));
    EXPECT_EQ("exit ", Restart(OsKindWinMe, true));
    EXPECT_EQ((UINT)EWX_REBOOT, g_exitFlags);

    EXPECT_EQ("open(40) exit ", Restart(OsKindNT5, false)) << "no token: the request follows anyway";
}

} // namespace
