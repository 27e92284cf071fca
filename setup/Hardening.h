// Process-wide defences taken at start and the security of the work directory.
#pragma once
#include <windows.h>

// First thing at start: DLLs only from the system directory (never from the program's folder,
// typically a downloads folder, nor from the current directory), termination on heap
// corruption, and DEP where Windows offers it.
void HardenProcess();

// True when the process runs with an elevated (administrator) token.
bool IsProcessElevated();

// The security of the work directory of an elevated run: full access for Administrators and
// SYSTEM only, inherited by everything inside, nothing inherited from the parent. Free it with
// LocalFree; null when it cannot be made.
PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor();

// Creates the work directory. Elevated, it grants access only to Administrators and SYSTEM, so
// that a process of the same user that is not elevated cannot change what the run will start;
// otherwise it keeps the default security. Fails when the directory already exists.
bool CreateWorkDirectory(const char* path);
