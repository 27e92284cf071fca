// The three version.dll calls, taken from the system directory's version.dll on first use.
// The program does not import version.dll: a DLL of that name planted beside the executable
// would be loaded in its place.
#pragma once
#include <windows.h>

struct VersionApi
{
    DWORD(WINAPI* pfnGetFileVersionInfoSizeA)(LPCSTR file, LPDWORD handle);
    BOOL(WINAPI* pfnGetFileVersionInfoA)(LPCSTR file, DWORD handle, DWORD size, LPVOID data);
    BOOL(WINAPI* pfnVerQueryValueA)(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT size);
};

// The loaded table, or null when version.dll cannot be loaded from the system directory.
const VersionApi* GetVersionApi();
