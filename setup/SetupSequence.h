// The setup run from the entry point to the exit code.
#pragma once
#include <windows.h>

// Free space the temporary folder must offer: 200 MiB.
const ULONGLONG TEMP_SPACE_NEEDED = 0xC800000;

// The run once WinMain has recorded the instance handle: from the mutex to the exit code.
int RunSetup(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);

// Whether a free-space query result lets the run go on.
bool TempSpaceIsEnough(bool queryOk, ULONGLONG availableToCaller);
