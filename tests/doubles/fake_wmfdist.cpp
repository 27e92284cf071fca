// The Windows Media Format redistributable's stand-in. Log lines (PIVORA_FAKE_LOG):
//   wmfdist start <command line>
//   wmfdist setup.exe present=0|1   whether the inner installer is still beside it
// It exits with PIVORA_FAKE_WMFDIST_EXIT (0 when unset).
#include "doubles.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    FakeLog("wmfdist start %s", GetCommandLineA());

    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\')
        --length;
    lstrcpynA(path + length, "setup.exe", MAX_PATH - length);
    FakeLog("wmfdist setup.exe present=%d", GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES);
    return FakeEnvInt("PIVORA_FAKE_WMFDIST_EXIT", 0);
}
