// The DirectX setup's stand-in: logs its command line and exits with 0.
#include "doubles.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    FakeLog("dxsetup start %s", GetCommandLineA());
    return 0;
}
