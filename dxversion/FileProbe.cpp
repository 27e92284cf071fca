#include "dxversion/DxProbe.h"
#include "dxversion/VersionApi.h"

namespace
{
// A file version a.b.c.d as one number that compares like the version.
constexpr ULONGLONG Ver64(ULONGLONG a, ULONGLONG b, ULONGLONG c, ULONGLONG d)
{
    return (a << 48) | (b << 32) | (c << 16) | d;
}

enum DxFile
{
    kDdraw,
    kD3drg8x,
    kDplayx,
    kDinput,
    kD3d8,
    kMpg2splt,
    kDpnet,
    kD3d9,
    kDxFileCount
};

const char* const kDxFileNames[kDxFileCount] = {
    "\\ddraw.dll", "\\d3drg8x.dll", "\\dplayx.dll", "\\dinput.dll",
    "\\d3d8.dll",  "\\mpg2splt.ax", "\\dpnet.dll",  "\\d3d9.dll",
};

enum RowTest
{
    kAtLeast,       // version >= first
    kAtLeast4Or5,   // major 4 and >= first, or major 5 and >= second
    kReadable,      // any readable version
};

struct DxRow
{
    DxFile file;
    RowTest test;
    ULONGLONG first;
    ULONGLONG second;
    DWORD major;
    DWORD minor;
    char letter;
};

// Each DirectX release left a component of a known version behind; a later row that holds
// overrides an earlier one.
const DxRow kDxRows[] = {
    {kDdraw, kAtLeast, Ver64(4, 2, 0, 95), 0, 1, 0, DX_LETTER_NONE},
    {kDdraw, kAtLeast, Ver64(4, 3, 0, 1096), 0, 2, 0, DX_LETTER_NONE},
    {kDdraw, kAtLeast, Ver64(4, 4, 0, 68), 0, 3, 0, DX_LETTER_NONE},
    {kD3drg8x, kAtLeast, Ver64(4, 4, 0, 70), 0, 3, 0, 'a'},
    {kDdraw, kAtLeast, Ver64(4, 5, 0, 155), 0, 5, 0, DX_LETTER_NONE},
    {kDdraw, kAtLeast, Ver64(4, 6, 0, 318), 0, 6, 0, DX_LETTER_NONE},
    {kDdraw, kAtLeast, Ver64(4, 6, 0, 436), 0, 6, 1, DX_LETTER_NONE},
    {kDplayx, kAtLeast, Ver64(4, 6, 3, 518), 0, 6, 1, 'a'},
    {kDdraw, kAtLeast, Ver64(4, 7, 0, 700), 0, 7, 0, DX_LETTER_NONE},
    {kDinput, kAtLeast, Ver64(4, 7, 0, 716), 0, 7, 0, 'a'},
    {kDdraw, kAtLeast4Or5, Ver64(4, 8, 0, 400), Ver64(5, 1, 2258, 400), 8, 0, DX_LETTER_NONE},
    {kD3d8, kAtLeast4Or5, Ver64(4, 8, 1, 881), Ver64(5, 1, 2600, 881), 8, 1, DX_LETTER_NONE},
    {kD3d8, kAtLeast4Or5, Ver64(4, 8, 1, 901), Ver64(5, 1, 2600, 901), 8, 1, 'a'},
    {kMpg2splt, kAtLeast, Ver64(6, 3, 1, 885), 0, 8, 1, 'b'},
    {kDpnet, kAtLeast4Or5, Ver64(4, 9, 0, 134), Ver64(5, 2, 3677, 134), 8, 2, DX_LETTER_NONE},
    {kD3d9, kReadable, 0, 0, 9, 0, DX_LETTER_NONE},
};

bool RowHolds(const DxRow& row, ULONGLONG version)
{
    switch (row.test)
    {
    case kAtLeast:
        return CompareVersions(version, row.first) >= 0;
    case kAtLeast4Or5:
    {
        DWORD firstPart = DWORD(version >> 48);
        if (firstPart == 4)
            return CompareVersions(version, row.first) >= 0;
        if (firstPart == 5)
            return CompareVersions(version, row.second) >= 0;
        return false;
    }
    case kReadable:
        return true;
    }
    return false;
}

} // namespace

int CompareVersions(ULONGLONG a, ULONGLONG b)
{
    DWORD aHigh = DWORD(a >> 32), bHigh = DWORD(b >> 32);
    if (aHigh != bHigh)
        return aHigh > bHigh ? 1 : -1;
    DWORD aLow = DWORD(a), bLow = DWORD(b);
    if (aLow != bLow)
        return aLow > bLow ? 1 : -1;
    return 0;
}

HRESULT ReadFileVersion(const char* path, ULONGLONG* version)
{
    if (!path || !version)
        return E_INVALIDARG;
    const VersionApi* api = GetVersionApi();
    if (!api)
        return E_FAIL;

    DWORD handle = 0;
    DWORD size = api->pfnGetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return E_FAIL;
    // The process heap rather than the C++ run-time: this also runs inside processes that
    // loaded the executable as a library, where our run-time was never started.
    void* block = HeapAlloc(GetProcessHeap(), 0, size);
    if (!block)
        return E_OUTOFMEMORY;

    HRESULT hr = E_FAIL;
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT fixedSize = 0;
    if (api->pfnGetFileVersionInfoA(path, 0, size, block) &&
        api->pfnVerQueryValueA(block, "\\", reinterpret_cast<LPVOID*>(&fixed), &fixedSize) &&
        fixed && fixedSize >= sizeof(VS_FIXEDFILEINFO))
    {
        *version = (ULONGLONG(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
        hr = S_OK;
    }
    HeapFree(GetProcessHeap(), 0, block);
    return hr;
}

HRESULT ProbeFolderFiles(const char* folder, DWORD* major, DWORD* minor, char* letter)
{
    *major = 0;
    *minor = 0;
    *letter = DX_LETTER_NONE;

    // Each file is read once, on the first row that asks for it.
    enum { kUnread, kRead, kUnreadable };
    int state[kDxFileCount] = {};
    ULONGLONG versions[kDxFileCount] = {};

    int folderLength = folder ? lstrlenA(folder) : 0;
    char path[MAX_PATH + 32];
    if (folderLength >= MAX_PATH)
        return S_OK;
    for (const DxRow& row : kDxRows)
    {
        if (state[row.file] == kUnread)
        {
            CopyMemory(path, folder, folderLength);
            lstrcpyA(path + folderLength, kDxFileNames[row.file]);
            state[row.file] =
                SUCCEEDED(ReadFileVersion(path, &versions[row.file])) ? kRead : kUnreadable;
        }
        if (state[row.file] == kRead && RowHolds(row, versions[row.file]))
        {
            *major = row.major;
            *minor = row.minor;
            *letter = row.letter;
        }
    }
    return S_OK;
}

HRESULT ProbeSystemFiles(DWORD* major, DWORD* minor, char* letter)
{
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, sizeof(folder));
    if (length == 0 || length >= sizeof(folder))
    {
        *major = 0;
        *minor = 0;
        *letter = DX_LETTER_NONE;
        return S_OK;
    }
    return ProbeFolderFiles(folder, major, minor, letter);
}
