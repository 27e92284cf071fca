#include <windows.h>
#include "setup/SetupSequence.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    return RunSetup(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
