// Writes a payload resource of the executable to a file, unscrambling it on the way.
#pragma once
#include <windows.h>

// Writes the type-1001 resource resourceId of the module instance to outputPath (an existing
// file is replaced). True when every byte was written; false when the resource is missing or
// empty, or the file cannot be created or written. A file that failed half-way stays as it is.
// When the executable carries the checksums resource, the payloads that it covers must also
// give their CRC-32 there: a payload that does not (or a checksums resource of the wrong size)
// is damaged, false, and its file is deleted.
bool UnpackResource(WORD resourceId, const char* outputPath);
