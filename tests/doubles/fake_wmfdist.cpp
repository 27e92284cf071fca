// The Windows Media Format redistributable's stand-in: logs its command line and whether a
// setup.exe lies beside its own file (the inner installer's, in the work directory), and exits
// with PIVORA_FAKE_WMFDIST_EXIT (0 when unset).
#include "doubles.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    FakeLog("wmfdist start %s", GetCommandLineA());
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH - 10);
    while (length > 0 && path[length - 1] != '\\')
        --length;
    lstrcpyA(path + length, "setup.exe");
    FakeLog("wmfdist setup.exe present=%d",
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
    return FakeEnvInt("PIVORA_FAKE_WMFDIST_EXIT", 0);
}
