// The setup run from the entry point to the exit code.
#pragma once
#include <windows.h>

// Free space the temporary folder must offer: 200 MiB.
const ULONGLONG TEMP_SPACE_NEEDED = 0xC800000;

int RunSetup(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);

// Whether a free-space query result lets the run go on.
bool TempSpaceIsEnough(bool queryOk, ULONGLONG availableToCaller);
