#include "ui/Folder.h"
#include "base/AnsiPath.h"
#include "base/CodePage.h"
#include "base/Log.h"
#include "base/ScopedHandle.h"
#include "base/Text.h"
#include <shlobj.h>
#include <string.h>

static BOOL WINAPI QueryDiskFreeSpace(LPCSTR path, PULARGE_INTEGER available,
                                      PULARGE_INTEGER total, PULARGE_INTEGER free)
{
    return GetDiskFreeSpaceExA(path, available, total, free);
}

GetDiskFreeSpaceExProc g_pGetDiskFreeSpaceEx = QueryDiskFreeSpace;

// The text that the path functions walk: the path itself, or with parentOnly its drive and
// directory. False when the copy could not be made.
static bool GetWalkedPath(const char* path, bool parentOnly, CText* walked)
{
    if (!path || !*path)
        return true;
    if (parentOnly)
    {
        CText whole(path);
        if (whole.IsEmpty())
            return false;
        SplitPath(whole, walked, NULL, NULL);
        return true;
    }
    walked->Assign(path);
    return !walked->IsEmpty();
}

bool FolderExists(const char* path)
{
    if (!path)
        return false;
    char buffer[1024];
    lstrcpynA(buffer, path, sizeof(buffer));

    if (buffer[0] == '\\' && buffer[1] == '\\')
    {
        RemoveBackslashFrom(buffer);
        DWORD attributes = GetFileAttributesA(buffer);
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    size_t length = strlen(buffer);
    char letter = buffer[0];
    bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    if (isLetter && buffer[1] == ':' && (length == 2 || (length == 3 && buffer[2] == '\\')))
    {
        // GetDriveTypeA wants the root with its backslash; "C:" alone names the current
        // directory of the drive.
        char root[4] = { letter, ':', '\\', '\0' };
        return GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR;
    }

    RemoveBackslashFrom(buffer);
    WIN32_FIND_DATAA found;
    CFindHandle search(FindFirstFileA(buffer, &found));
    return search.IsSet() && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CheckNameChars(const char* text, bool allowBackslash)
{
    if (!text)
        return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p)
    {
        if (p[1] && IsDoubleBytePair(p[0], p[1]))
        {
            p += 2;
            continue;
        }
        switch (*p)
        {
        case '/':
        case '"':
        case '*':
        case ':':
        case '?':
        case '<':
        case '>':
        case '|':
            return false;
        case '\\':
            if (!allowBackslash)
                return false;
            break;
        }
        p++;
    }
    return true;
}

bool ValidateFolderPath(const char* path, bool parentOnly)
{
    CText walked;
    if (!GetWalkedPath(path, parentOnly, &walked))
        return false;
    // The first field is the drive (C:) and is not a folder name.
    walked.Tokenize(NULL, 0);
    if (!walked.Tokenize("\\", 0))
        return true;
    for (const char* field = walked.Tokenize("\\", 0); field; field = walked.Tokenize("\\", 0))
    {
        size_t length = strlen(field);
        if (length == 0)
            return false;
        char first = field[0];
        char last = field[length - 1];
        if (first == ' ' || first == '.' || last == ' ' || last == '.')
            return false;
        if (!CheckNameChars(field, true))
            return false;
    }
    return true;
}

bool CreateFolderPath(const char* path, bool parentOnly)
{
    CText walked;
    if (!GetWalkedPath(path, parentOnly, &walked))
        return false;
    walked.Tokenize(NULL, 0);
    CText accumulated(walked.Tokenize("\\", 0));
    for (const char* field = walked.Tokenize("\\", 0); field; field = walked.Tokenize("\\", 0))
    {
        // A path cut short for want of memory would create the wrong folder.
        if (!accumulated.AppendWhole("\\") || !accumulated.AppendWhole(field))
            return false;
        if (accumulated.GetLength() > 3 && !FolderExists(accumulated.GetText()) &&
            !CreateDirectoryA(accumulated.GetText(), NULL))
        {
            LogFailure("CreateDirectoryA", GetLastError(), "folder %s not made",
                       accumulated.GetText());
            return false;
        }
    }
    return true;
}

bool HasSetupRoom(const char* path)
{
    ULARGE_INTEGER available, total, free;
    if (!g_pGetDiskFreeSpaceEx || !g_pGetDiskFreeSpaceEx(path, &available, &total, &free))
    {
        LogFailure("GetDiskFreeSpaceExA", GetLastError(), "%s: free space unknown", path);
        return false;
    }
    LogEvent("%s: %I64u bytes free, %I64u needed", path, available.QuadPart,
             kDestinationMinFreeBytes);
    return available.QuadPart >= kDestinationMinFreeBytes;
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM /*lParam*/, LPARAM data)
{
    if (message == BFFM_INITIALIZED && data)
        SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

BrowseResult BrowseForFolder(HWND owner, const wchar_t* title, const char* initial, char* out,
                             UINT flags)
{
    out[0] = '\0';
    CInterface<IMalloc> allocator;
    if (FAILED(SHGetMalloc(allocator.Receive())) || !allocator.IsSet())
        return BrowseNotShown;

    wchar_t displayName[MAX_PATH];
    displayName[0] = L'\0';
    BROWSEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.hwndOwner = owner;
    info.pidlRoot = NULL;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = flags | BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial);
    info.iImage = 0;

    BrowseResult result = BrowseDone;
    LPITEMIDLIST list = SHBrowseForFolderW(&info);
    if (list)
    {
        wchar_t chosen[MAX_PATH];
        if (SHGetPathFromIDListW(list, chosen) && !ToAnsiExact(chosen, out, MAX_PATH))
            result = BrowseUnnamable;
        allocator.Get()->Free(list);
    }
    return result;
}
