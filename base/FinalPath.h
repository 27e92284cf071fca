// The path that Windows reports for an open file or folder, with every link, short name and
// letter case resolved: what the handle holds, whatever path led to it.
#pragma once
#include <windows.h>

typedef DWORD(WINAPI* GetFinalPathNameByHandleFn)(HANDLE, LPWSTR, DWORD, DWORD);

// The final path of handle into path (size units) in its plain form: "C:\..." on a drive,
// "\\server\share\..." on a share, without the "\\?\" that Windows puts before it. Its length,
// or 0 when there is none or it does not fit (the last error says which). call is the system's
// GetFinalPathNameByHandleW unless a test gives its own.
DWORD GetFinalPath(HANDLE handle, wchar_t* path, DWORD size,
                   GetFinalPathNameByHandleFn call = GetFinalPathNameByHandleW);

// The drive type of a final path's drive ("C:\..."); DRIVE_REMOTE for a path on a share. call is
// the system's GetDriveTypeW unless a test gives its own.
UINT GetDriveTypeOf(const wchar_t* path, UINT(WINAPI* call)(LPCWSTR) = GetDriveTypeW);
