// Creation of the files that the payload steps write.
#pragma once
#include "base/FileObject.h"

// Opens path for writing as CREATE_ALWAYS does (read and write access, shared for reading and
// writing): a new, empty file, or an existing one replaced. The open's code on failure.
HRESULT CreateOutputFile(CFileObject& file, const char* path);
// The same for a file that must not exist yet (CREATE_NEW): an existing one is left as it is
// and the result is 0x80070050.
HRESULT CreateNewOutputFile(CFileObject& file, const char* path);

// Whether a failed write or creation found the drive full: ERROR_DISK_FULL or
// ERROR_HANDLE_DISK_FULL, folded.
bool IsOutOfRoom(HRESULT hr);
