#include "base/FinalPath.h"
#include <wchar.h>

DWORD GetFinalPath(HANDLE handle, wchar_t* path, DWORD size, GetFinalPathNameByHandleFn call)
{
    DWORD length = call(handle, path, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= size)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (length == 0)
        return 0;
    // "\\?\UNC\server\..." for a share, "\\?\C:\..." for a drive.
    int skip = 0;
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0)
    {
        skip = 6;
        path[6] = L'\\';
    }
    else if (wcsncmp(path, L"\\\\?\\", 4) == 0)
    {
        skip = 4;
    }
    MoveMemory(path, path + skip, (length - skip + 1) * sizeof(wchar_t));
    return length - skip;
}

UINT GetDriveTypeOf(const wchar_t* path, UINT(WINAPI* call)(LPCWSTR))
{
    const wchar_t root[4] = {path[0], L':', L'\\', L'\0'};
    return path[0] && path[1] == L':' && path[2] == L'\\' ? call(root) : DRIVE_REMOTE;
}
