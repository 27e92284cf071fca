// The setup run from the entry point to the exit code.
#pragma once
#include <windows.h>

int RunSetup(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
