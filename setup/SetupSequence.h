// The setup run from the entry point to the exit code.
#pragma once
#include <windows.h>

// The run once WinMain has recorded the instance handle: from the mutex to the exit code.
int RunSetup(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
