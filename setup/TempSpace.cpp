#include "setup/TempSpace.h"
#include "base/Log.h"
#include "payload/Archive.h"
#include "payload/Unpack.h"
#include "resources/resource.h"

ULONGLONG TempSpaceNeeded()
{
    // Each payload is read in place: the archive's entry headers are all that is touched of it.
    CPayloadReader archive(IDR_ARCHIVE);
    const ULONGLONG extracted = ArchiveExtractedSize(archive);
    const DWORD wmfdist = CPayloadReader(IDR_WMFDIST).GetSize();
    const ULONGLONG written = archive.GetSize() + extracted + wmfdist;
    LogEvent("payloads: archive %lu bytes, its files %I64u bytes, wmfdist.exe %lu bytes: %I64u "
             "bytes to write", archive.GetSize(), extracted, wmfdist, written);
    return written > TEMP_SPACE_NEEDED ? written : TEMP_SPACE_NEEDED;
}

bool TempSpaceIsEnough(bool queryOk, ULONGLONG availableToCaller, ULONGLONG needed)
{
    return queryOk && availableToCaller >= needed;
}

bool TempFolderHasRoom(const char* folder, ULONGLONG needed)
{
    ULARGE_INTEGER available;
    const bool queryOk = GetDiskFreeSpaceExA(folder, &available, NULL, NULL) != FALSE;
    if (!queryOk)
        LogFailure("GetDiskFreeSpaceExA", GetLastError(), "temporary folder %s: free space unknown",
                   folder);
    else
        LogEvent("temporary folder %s: %I64u bytes free, %I64u needed", folder, available.QuadPart,
                 needed);
    return TempSpaceIsEnough(queryOk, queryOk ? available.QuadPart : 0, needed);
}
