#include "setup/Hardening.h"
#include "base/Module.h"
#include "base/ScopedHandle.h"

namespace {

typedef BOOL (WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL (WINAPI* SetProcessDEPPolicyFn)(DWORD);

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef PROCESS_DEP_ENABLE
#define PROCESS_DEP_ENABLE 0x00000001
#endif

} // namespace

void HardenProcess()
{
    // The newer calls are looked up so that the program still starts on a Windows that lacks
    // them.
    SetDefaultDllDirectoriesFn setDefault =
        GetSystemFunction<SetDefaultDllDirectoriesFn>("kernel32.dll", "SetDefaultDllDirectories");
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");

    HeapSetInformation(NULL, HeapEnableTerminationOnCorruption, NULL, 0);

    SetProcessDEPPolicyFn setDep =
        GetSystemFunction<SetProcessDEPPolicyFn>("kernel32.dll", "SetProcessDEPPolicy");
    if (setDep)
        setDep(PROCESS_DEP_ENABLE);
}

bool IsProcessElevated()
{
    CKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation),
                               &size) && elevation.TokenIsElevated != 0;
}
