#include <windows.h>
#include "base/Module.h"
#include "setup/Hardening.h"
#include "setup/SetupSequence.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    // First of all: every string-table load and every dialog of the run takes it.
    SetModuleInstance(hInstance);
    HardenProcess();
    return RunSetup(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
