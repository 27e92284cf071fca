#include "payload/OutputFile.h"
#include "base/Module.h"

namespace
{
const DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
const DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
} // namespace

HRESULT CreateNewOutputFile(CFileObject& file, const char* path)
{
    return file.Open(path, CREATE_NEW, kAccess, kShare, 0, NULL);
}

HRESULT CreateOutputFile(CFileObject& file, const char* path)
{
    // A file that is not there yet is made with CREATE_NEW. Wine carries CREATE_ALWAYS out as
    // an open and a truncation to 0, and ext4 treats a file truncated to 0 as one being
    // replaced: it starts writing it to disk when it is closed, in the closing thread, which
    // made the extraction of many files half again slower. The result is the same file.
    HRESULT hr = CreateNewOutputFile(file, path);
    if (hr == FoldWin32Error(ERROR_FILE_EXISTS))
        hr = file.Open(path, CREATE_ALWAYS, kAccess, kShare, 0, NULL);
    return hr;
}

bool IsOutOfRoom(HRESULT hr)
{
    return hr == FoldWin32Error(ERROR_DISK_FULL) || hr == FoldWin32Error(ERROR_HANDLE_DISK_FULL);
}
