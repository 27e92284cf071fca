#include "dxversion/VersionApi.h"
#include "base/Module.h"

// Plain zero-initialised data, checked on every call: GetDXVersion also runs in processes that
// load the executable as a library, where no start-up code of ours has run.
static VersionApi g_VersionApi;
static LONG g_nVersionApiReady;

const VersionApi* GetVersionApi()
{
    if (InterlockedCompareExchange(&g_nVersionApiReady, 0, 0))
        return &g_VersionApi;

    // Two threads may both get here; the module is then counted twice and both write the
    // same addresses, which is harmless.
    HMODULE module = LoadSystemLibrary("version.dll");
    if (!module)
        return NULL;
    FARPROC size = GetProcAddress(module, "GetFileVersionInfoSizeA");
    FARPROC info = GetProcAddress(module, "GetFileVersionInfoA");
    FARPROC query = GetProcAddress(module, "VerQueryValueA");
    if (!size || !info || !query)
    {
        FreeLibrary(module);
        return NULL;
    }
    g_VersionApi.pfnGetFileVersionInfoSizeA =
        reinterpret_cast<DWORD(WINAPI*)(LPCSTR, LPDWORD)>(reinterpret_cast<void*>(size));
    g_VersionApi.pfnGetFileVersionInfoA =
        reinterpret_cast<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID)>(reinterpret_cast<void*>(info));
    g_VersionApi.pfnVerQueryValueA =
        reinterpret_cast<BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT)>(reinterpret_cast<void*>(query));
    InterlockedExchange(&g_nVersionApiReady, 1);
    return &g_VersionApi;
}
