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

    // Two threads may both get here; they then write the same addresses, which is harmless.
    VersionApi api;
    api.pfnGetFileVersionInfoSizeA = GetSystemFunction<decltype(api.pfnGetFileVersionInfoSizeA)>(
        "version.dll", "GetFileVersionInfoSizeA");
    api.pfnGetFileVersionInfoA = GetSystemFunction<decltype(api.pfnGetFileVersionInfoA)>(
        "version.dll", "GetFileVersionInfoA");
    api.pfnVerQueryValueA = GetSystemFunction<decltype(api.pfnVerQueryValueA)>(
        "version.dll", "VerQueryValueA");
    if (!api.pfnGetFileVersionInfoSizeA || !api.pfnGetFileVersionInfoA || !api.pfnVerQueryValueA)
        return NULL;
    g_VersionApi = api;
    InterlockedExchange(&g_nVersionApiReady, 1);
    return &g_VersionApi;
}
