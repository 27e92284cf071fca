// Restarting Windows at the end of a completed run, with the shutdown privilege where the
// running Windows family has one.
#pragma once
#include <windows.h>

enum OsKind
{
    OsKindWin95 = 0x01,   // also every case that cannot be classified
    OsKindWin98 = 0x02,
    OsKindWinMe = 0x04,
    OsKindNT4 = 0x10,
    OsKindNT5 = 0x20,
};

// The classification of a version record; queryOk false means the query failed.
OsKind ClassifyOs(bool queryOk, const OSVERSIONINFOA& info);
// The classification of the running Windows.
OsKind GetOsKind();

// The calls that restart Windows; replaced by tests so that no test ever restarts anything.
struct RestartCalls
{
    BOOL (WINAPI* pOpenProcessToken)(HANDLE, DWORD, PHANDLE);
    BOOL (WINAPI* pLookupPrivilegeValueA)(LPCSTR, LPCSTR, PLUID);
    BOOL (WINAPI* pAdjustTokenPrivileges)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                          PTOKEN_PRIVILEGES, PDWORD);
    BOOL (WINAPI* pExitWindowsEx)(UINT, DWORD);
};

// Asks Windows to restart; returns when Windows refuses or while the restart is under way.
void RestartSystem();
// The same through the given calls, for the kind given.
void RestartSystemWith(const RestartCalls& calls, OsKind kind);
