#include "system/Restart.h"
#include "base/Log.h"
#include "base/ScopedHandle.h"

OsKind ClassifyOs(bool queryOk, const OSVERSIONINFOA& info)
{
    if (!queryOk)
        return OsKindWin95;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return info.dwMajorVersion <= 4 ? OsKindNT4 : OsKindNT5;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    {
        // The 9x family keeps its major and minor version in the high word of the build number.
        DWORD build = info.dwBuildNumber & 0xFFFF;
        if (build <= 1353)
            return OsKindWin95;
        return build < 3000 ? OsKindWin98 : OsKindWinMe;
    }
    return OsKindWin95;
}

OsKind GetOsKind()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    bool ok = GetVersionExA(&info) != FALSE;
    return ClassifyOs(ok, info);
}

void RestartSystemWith(const RestartCalls& calls, OsKind kind)
{
    // The 9x family has no shutdown privilege; every other kind enables it, and where the
    // token cannot be had the calls simply fail.
    if (kind != OsKindWin98 && kind != OsKindWinMe)
    {
        CKernelHandle token;
        if (calls.pOpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                    token.Receive()))
        {
            TOKEN_PRIVILEGES privileges;
            ZeroMemory(&privileges, sizeof(privileges));
            calls.pLookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
            privileges.PrivilegeCount = 1;
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            calls.pAdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, NULL, NULL);
        }
    }
    if (!calls.pExitWindowsEx(EWX_REBOOT, 0))
        LogFailure("ExitWindowsEx", GetLastError(), "restart refused");
}

void RestartSystem()
{
    RestartCalls calls = {OpenProcessToken, LookupPrivilegeValueA, AdjustTokenPrivileges,
                          ExitWindowsEx};
    RestartSystemWith(calls, GetOsKind());
}
