#include "setup/Hardening.h"
#include <sddl.h>

namespace {

typedef BOOL (WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL (WINAPI* SetProcessDEPPolicyFn)(DWORD);

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef PROCESS_DEP_ENABLE
#define PROCESS_DEP_ENABLE 0x00000001
#endif

// Administrators and SYSTEM only, inherited by everything the run writes inside; the DACL is
// protected so that nothing of the temporary folder's own access list flows in.
const char kWorkDirectorySddl[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

} // namespace

void HardenProcess()
{
    // kernel32 is always loaded; the newer calls are looked up so that the program still
    // starts on a Windows that lacks them.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesFn setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories"))) : NULL;
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");

    HeapSetInformation(NULL, HeapEnableTerminationOnCorruption, NULL, 0);

    SetProcessDEPPolicyFn setDep = kernel ? reinterpret_cast<SetProcessDEPPolicyFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessDEPPolicy"))) : NULL;
    if (setDep)
        setDep(PROCESS_DEP_ENABLE);
}

bool IsProcessElevated()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation),
                                        &size) && elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor()
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kWorkDirectorySddl, SDDL_REVISION_1,
                                                              &descriptor, NULL))
        return NULL;
    return descriptor;
}

bool CreateWorkDirectory(const char* path)
{
    if (!IsProcessElevated())
        return CreateDirectoryA(path, NULL) != FALSE;

    PSECURITY_DESCRIPTOR descriptor = CreateAdminOnlyDescriptor();
    if (!descriptor)
        return false;
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor, FALSE};
    bool created = CreateDirectoryA(path, &security) != FALSE;
    LocalFree(descriptor);
    return created;
}
