// The Windows Media Format redistributable's stand-in: logs its command line, whether a
// setup.exe lies beside its own file (the inner installer's, in the work directory), and how a
// rename of that folder from outside ends while the setup holds it, at the last moment of the
// run with files in it; stays PIVORA_FAKE_WMFDIST_RUN_MS (0 when unset), logs "wmfdist end" and
// exits with PIVORA_FAKE_WMFDIST_EXIT (0 when unset).
#include "doubles.h"

namespace
{
// 0 when the call succeeded (and was undone), else its error.
DWORD RenameError(const char* folder)
{
    char moved[MAX_PATH];
    wsprintfA(moved, "%s.moved", folder);
    if (!MoveFileA(folder, moved))
        return GetLastError();
    MoveFileA(moved, folder);
    return 0;
}
}

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
    path[length > 0 ? length - 1 : 0] = '\0';
    FakeLog("wmfdist workdir rename=%lu", RenameError(path));
    FakeLogEnvironment("wmfdist");
    Sleep(FakeEnvInt("PIVORA_FAKE_WMFDIST_RUN_MS", 0));
    FakeLog("wmfdist end");
    return FakeEnvInt("PIVORA_FAKE_WMFDIST_EXIT", 0);
}
