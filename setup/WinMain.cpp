#include <windows.h>
#include "setup/Hardening.h"
#include "setup/SetupSequence.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    HardenProcess();
    return RunSetup(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
