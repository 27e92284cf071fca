// The DirectX setup's stand-in: logs its command line and its own file, and exits with 0.
#include "doubles.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(NULL, self, sizeof(self));
    FakeLog("dxsetup start %s", GetCommandLineA());
    FakeLog("dxsetup program %s", self);
    FakeLogEnvironment("dxsetup");
    return 0;
}
