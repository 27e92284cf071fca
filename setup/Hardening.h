// Process-wide defences taken at start, and whether the run is elevated.
#pragma once
#include <windows.h>

// First thing at start: DLLs only from the system directory (never from the program's folder,
// typically a downloads folder, nor from the current directory), termination on heap
// corruption, and DEP where Windows offers it.
void HardenProcess();

// True when the process runs with an elevated (administrator) token.
bool IsProcessElevated();
