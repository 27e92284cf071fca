#include "payload/OutputFile.h"
#include "base/Module.h"

HRESULT CreateOutputFile(CFileObject& file, const char* path)
{
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    // A file that is not there yet is made with CREATE_NEW. Wine carries CREATE_ALWAYS out as
    // an open and a truncation to 0, and ext4 treats a file truncated to 0 as one being
    // replaced: it starts writing it to disk when it is closed, in the closing thread, which
    // made the extraction of many files half again slower. The result is the same file.
    HRESULT hr = file.Open(path, CREATE_NEW, access, share, 0, NULL);
    if (hr == FoldWin32Error(ERROR_FILE_EXISTS))
        hr = file.Open(path, CREATE_ALWAYS, access, share, 0, NULL);
    return hr;
}
