// Extraction of the payload archive ("PK24"): a 24-byte file header, then entries of a
// 284-byte header and the file's bytes, uncompressed.
#pragma once
#include <windows.h>

// Copies every entry of the archive at archivePath into destinationFolder (with or without a
// trailing backslash). 0 when every entry was written; otherwise the first failure: the open's
// code (0x80070050 for a file that is there already: a second entry for the same file, or one
// named like the archive in the destination), 0x80070026 when the archive ends early, E_FAIL
// for a wrong magic or an entry name that would not stay inside the destination or that Windows
// would change, the folded last error of a failed read or write.
// Nothing written before a failure is removed.
HRESULT ExtractArchive(const char* archivePath, const char* destinationFolder);

class CPayloadReader;
// The bytes that ExtractArchive writes for the archive that archive holds, at most: the data
// sizes of its entries as their headers give them, each counted up to what the archive holds
// after its header, as the extraction would copy it. 0 when it is no PK24 archive.
ULONGLONG ArchiveExtractedSize(CPayloadReader& archive);
