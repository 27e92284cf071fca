// Creation of the files that the payload steps write.
#pragma once
#include "base/FileObject.h"

// Opens path for writing as CREATE_ALWAYS does (read and write access, shared for reading and
// writing): a new, empty file, or an existing one replaced. The open's code on failure.
HRESULT CreateOutputFile(CFileObject& file, const char* path);
