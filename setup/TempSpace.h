// The room the run needs in a temporary folder before it makes its work directory there.
#pragma once
#include <windows.h>

// The least free space the run asks of the temporary folder, whatever its payloads: 200 MiB.
const ULONGLONG TEMP_SPACE_NEEDED = 0xC800000;

// What the run writes into its work directory, from the payload resources' sizes and the
// archive's entry headers, before anything is written: the archive, the files extracted from
// it and wmfdist.exe; at least TEMP_SPACE_NEEDED. Logged with its parts.
ULONGLONG TempSpaceNeeded();

// Whether a free-space query result lets the run go on.
bool TempSpaceIsEnough(bool queryOk, ULONGLONG availableToCaller, ULONGLONG needed);

// Queries the space free to the caller on folder's drive, logs it beside needed, and tells
// whether it is enough. A failed query is logged and is not enough.
bool TempFolderHasRoom(const char* folder, ULONGLONG needed);
