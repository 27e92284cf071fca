#include "base/Module.h"
#include "base/Text.h"

// A plain global: it must be usable before and after every static constructor and destructor.
static HINSTANCE g_hModuleInstance;

void SetModuleInstance(HINSTANCE hInstance)
{
    g_hModuleInstance = hInstance;
}

HINSTANCE GetModuleInstance()
{
    return g_hModuleInstance ? g_hModuleInstance : GetModuleHandleA(NULL);
}

int GetModuleDirectory(char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = '\0';
    char szFile[MAX_PATH * 4];
    DWORD nLength = GetModuleFileNameA(GetModuleInstance(), szFile, sizeof(szFile));
    // A length equal to the buffer means the name was cut: better no directory than a wrong one.
    if (nLength == 0 || nLength >= sizeof(szFile))
        return 0;
    return JoinDriveDirectory(szFile, buffer, size) ? 1 : 0;
}

HRESULT FoldWin32Error(LONG error)
{
    if (error <= 0)
        return (HRESULT)error;
    return (HRESULT)(0x80070000UL | ((ULONG)error & 0xFFFF));
}

HRESULT HResultFromLastError()
{
    return FoldWin32Error((LONG)GetLastError());
}

HRESULT HResultFromFailure()
{
    HRESULT hr = HResultFromLastError();
    return FAILED(hr) ? hr : E_FAIL;
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH + 32];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || lstrlenA(name) > 30)
        return NULL;
    if (path[length - 1] != '\\')
        path[length++] = '\\';
    lstrcpyA(path + length, name);
    return LoadLibraryA(path);
}

FARPROC GetSystemProcAddress(const char* dllName, const char* procName)
{
    // The module stays loaded for the rest of the process; a second load only counts it again.
    HMODULE module = LoadSystemLibrary(dllName);
    return module ? GetProcAddress(module, procName) : NULL;
}
