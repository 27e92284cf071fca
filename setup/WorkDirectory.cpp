#include "setup/WorkDirectory.h"
#include <wchar.h>
#include "base/AnsiPath.h"
#include "base/Log.h"
#include "base/NtFile.h"
#include "base/Text.h"
#include "payload/ChildProcess.h"
#include "setup/Hardening.h"
#include "setup/WorkDirectoryRecord.h"
#include "ui/Folder.h"

namespace {

// The work directory is named "exp", up to four hex digits, ".tmp".
const int kNameLength = 11;
const DWORD kNumbers = 0x10000;

// A directory of length characters (without its backslash) and every file the run writes into
// it fit in MAX_PATH.
bool HasRoomForWorkFiles(int length)
{
    return length + 1 + kLongestWorkFileName < MAX_PATH;
}

// Makes the directory and opens it in one call, which fails when anything of that name is there
// already: the handle holds the directory that this call made, never a folder or a junction
// that somebody put in its place after the naming (the user may delete and make any child of
// their temporary folder, whatever its access list says). Held open without delete sharing, the
// directory can be neither renamed nor deleted by anybody else until the run lets it go; the
// hold itself asks for no delete access, so that others may still list the directory (a listing
// that does not share delete would conflict with it); the run deletes it in the end through a
// handle opened by its file ID.
// Elevated, only Administrators and SYSTEM get in, so that a process of the same user that is
// not elevated cannot change what the run will start; a descriptor that cannot be had means no
// work directory, never one with the default security. Not elevated, the default security. The
// Windows error on failure.
DWORD CreateAndHoldDirectory(const char* path, CKernelHandle& hold)
{
    CLocalMemory descriptor;
    if (IsProcessElevated())
    {
        descriptor.Reset(CreateAdminOnlyDescriptor());
        if (!descriptor.IsSet())
            return GetLastError() ? GetLastError() : ERROR_INVALID_SECURITY_DESCR;
    }
    // The full path in the form of the native call: "\??\" and the DOS path.
    wchar_t name[4 + MAX_PATH] = L"\\??\\";
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, name + 4, MAX_PATH))
        return GetLastError();
    return OpenNative(NULL, name, lstrlenW(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      kNtFileCreate, kNtDirectoryFile, descriptor.Get(), hold);
}

// The final path of the held directory into path (MAX_PATH + 8 characters); false when there is
// none.
bool GetHeldPath(const WorkDirectoryCalls& calls, HANDLE directory, wchar_t* path)
{
    if (GetFinalPath(directory, path, MAX_PATH + 8, calls.folder.pGetFinalPathNameByHandleW))
        return true;
    LogFailure("GetFinalPathNameByHandleW", GetLastError(), "work directory: no final path");
    return false;
}

// True when the Win32 path handling would turn path into another path: a level that ends in a
// dot or a blank loses it ("t." is read as "t"), and whatever else the full-path rules change.
bool IsRewrittenByWin32(const wchar_t* path)
{
    for (const wchar_t* p = path; *p; ++p)
    {
        if ((*p == L'.' || *p == L' ') && (p[1] == L'\\' || p[1] == L'\0'))
            return true;
    }
    wchar_t full[MAX_PATH + 8];
    const DWORD size = sizeof(full) / sizeof(full[0]);
    const DWORD length = GetFullPathNameW(path, size, full, NULL);
    return length == 0 || length >= size || wcscmp(full, path) != 0;
}

DWORD FirstNumberFromClock()
{
    return GetTickCount();
}

} // namespace

const WorkDirectoryCalls& SystemWorkDirectoryCalls()
{
    // The folder's calls written out, not copied from SystemFolderCalls(): a static initialised by
    // a call is guarded by the C++ run-time, whose guard links its whole exception machinery.
    static const WorkDirectoryCalls calls = {GetTempPathW, FirstNumberFromClock, FolderExists,
                                             RecordWorkDirectory, ForgetWorkDirectory,
                                             {GetFinalPathNameByHandleW,
                                              GetVolumeInformationByHandleW, GetDriveTypeW}};
    return calls;
}

void GetTemporaryFolder(char* folder, const WorkDirectoryCalls& calls)
{
    wchar_t wide[MAX_PATH];
    DWORD length = calls.pGetTempPathW(MAX_PATH, wide);
    if (length == 0 || length >= MAX_PATH)   // failed, or would not fit
    {
        LogFailure("GetTempPathW", length ? ERROR_INSUFFICIENT_BUFFER : GetLastError(),
                   "temporary folder: none; C:\\ instead");
        lstrcpyA(folder, "C:\\");
        return;
    }
    if (ToAnsiExact(wide, folder, MAX_PATH))
        return;
    // A user name that the code page lacks: the short form names the same folder in plain ASCII.
    if (GetAnsiPath(wide, folder, MAX_PATH))
    {
        LogEvent("temporary folder: code page %u cannot name it; its short form %s instead",
                 GetACP(), folder);
        return;
    }
    LogEvent("temporary folder: code page %u cannot name it and it has no short form; C:\\ "
             "instead", GetACP());
    lstrcpyA(folder, "C:\\");
}

bool GetWindowsTemporaryFolder(char* folder)
{
    wchar_t wide[MAX_PATH];
    // The system's Windows directory: on a terminal server GetWindowsDirectory may answer a
    // private one of the user's.
    const UINT length = GetSystemWindowsDirectoryW(wide, MAX_PATH);
    if (length == 0 || length + 6 >= MAX_PATH)
        return false;
    lstrcatW(wide, wide[length - 1] == L'\\' ? L"Temp\\" : L"\\Temp\\");
    return GetAnsiPath(wide, folder, MAX_PATH);
}

CWorkDirectory::CWorkDirectory(const WorkDirectoryCalls& calls) : m_Calls(calls), m_bCreated(false)
{
    m_szPath[0] = '\0';
    m_szFinalPath[0] = L'\0';
}

CWorkDirectory::~CWorkDirectory()
{
    Remove();
}

bool CWorkDirectory::Create(const char* tempFolder)
{
    if (!MakeAndHold(tempFolder))
        return false;
    if (!TakeFinalPath())
    {
        RemoveRefused();
        return false;
    }
    m_bCreated = true;
    LogEvent("work directory: %s made and held", m_szPath);
    AddBackslashTo(m_szPath, MAX_PATH);
    m_Calls.pRecord(m_hHold.Get(), m_szFinalPath);
    return true;
}

// Named here and made in the same step as the check that the name is free: a name that is taken
// (left by an earlier run, or made by somebody who guessed it) is passed by for the next one, and
// nothing is ever made or deleted by a name that was only checked before.
bool CWorkDirectory::MakeAndHold(const char* tempFolder)
{
    // The paths of the files written inside must fit: decided before anything is created.
    lstrcpynA(m_szPath, tempFolder, MAX_PATH);
    if (!AddBackslashTo(m_szPath, MAX_PATH) || !HasRoomForWorkFiles(lstrlenA(m_szPath) + kNameLength))
    {
        LogEvent("work directory: none; %s leaves no room for the files of the run", tempFolder);
        return false;
    }
    const int folderLength = lstrlenA(m_szPath);
    const DWORD first = m_Calls.pFirstNumber();
    DWORD error = ERROR_ALREADY_EXISTS;
    DWORD taken = 0;
    for (; taken <= kNumbers; ++taken)
    {
        if (taken < kNumbers)
            wsprintfA(m_szPath + folderLength, "exp%X.tmp", (first + taken) % kNumbers);
        else
            lstrcpyA(m_szPath + folderLength, "exp.tmp");
        error = CreateAndHoldDirectory(m_szPath, m_hHold);
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    if (taken > 0)
        LogEvent("work directory: %lu names in %s were taken", taken, tempFolder);
    if (error != ERROR_SUCCESS)
    {
        LogFailure("NtCreateFile", error, "work directory: %s not made", m_szPath);
        return false;
    }
    return true;
}

// From the hold on, the directory is named by the path that Windows reports for the held handle,
// with every link and short name resolved, and every level of that path is held too: every later
// step reaches this directory, whatever a level of the temporary folder's path that the user owns
// was or is changed to.
bool CWorkDirectory::TakeFinalPath()
{
    wchar_t path[MAX_PATH + 8];
    char ansi[MAX_PATH];
    if (!GetHeldPath(m_Calls, m_hHold.Get(), path) || !IsSafePlace(path, ansi) ||
        !HoldLevels(path) || !NamesHeldDirectory(ansi))
        return false;
    if (lstrcmpA(ansi, m_szPath) != 0)
        LogEvent("work directory: %s is %s", m_szPath, ansi);
    lstrcpyA(m_szPath, ansi);
    lstrcpyW(m_szFinalPath, path);
    return true;
}

// The final path is a safe place for the run: a safe volume, a path that Win32 reads as it is,
// and one that the code page names (into ansi, MAX_PATH bytes) with room for the files of the run.
bool CWorkDirectory::IsSafePlace(const wchar_t* path, char* ansi)
{
    if (!IsSafeVolume(path))
        return false;
    // Every later step names the directory through Win32 calls: a path that they would read as
    // another one leads them into a folder that the run did not make.
    if (IsRewrittenByWin32(path))
    {
        LogWide("work directory: Win32 would read its final path as another one: ", path);
        return false;
    }
    if (!GetAnsiPath(path, ansi, MAX_PATH) || !HasRoomForWorkFiles(lstrlenA(ansi)))
    {
        LogEvent("work directory: the final path of %s cannot take the files of the run in code "
                 "page %u", m_szPath, GetACP());
        return false;
    }
    return true;
}

// A local volume (the hold means nothing on a server; a CD is no place to write), and while
// elevated one that keeps access lists: FAT and exFAT drop the admin-only descriptor without an
// error, and anybody could then write into the directory.
bool CWorkDirectory::IsSafeVolume(const wchar_t* path)
{
    const UINT type = GetDriveTypeOf(path, m_Calls.folder.pGetDriveTypeW);
    if (type == DRIVE_REMOTE || type == DRIVE_CDROM || type == DRIVE_UNKNOWN ||
        type == DRIVE_NO_ROOT_DIR)
    {
        LogEvent("work directory: %s does not lie on a local volume (drive type %u)", m_szPath, type);
        return false;
    }
    if (!IsProcessElevated())
        return true;
    DWORD flags = 0;
    wchar_t fileSystem[32] = L"";
    if (!m_Calls.folder.pGetVolumeInformationByHandleW(m_hHold.Get(), NULL, 0, NULL, NULL, &flags,
                                                fileSystem, 32))
    {
        LogFailure("GetVolumeInformationByHandleW", GetLastError(), "work directory: %s",
                   m_szPath);
        return false;
    }
    if (!(flags & FILE_PERSISTENT_ACLS))
    {
        LogWide("work directory: its volume keeps no access lists, file system ", fileSystem);
        return false;
    }
    return true;
}

// The ANSI path that every later step uses must lead to the held directory itself, not to
// another folder that a rewritten name, a link or a short name points at.
bool CWorkDirectory::NamesHeldDirectory(const char* path)
{
    CKernelHandle named(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL));
    if (!named.IsSet())
    {
        LogFailure("CreateFileA", GetLastError(), "work directory: %s leads nowhere", path);
        return false;
    }
    FileIdentity held, found;
    if (!GetFileIdentity(m_hHold.Get(), held) || !GetFileIdentity(named.Get(), found))
    {
        LogFailure("GetFileInformationByHandle", GetLastError(), "work directory: %s", path);
        return false;
    }
    if (!(held == found))
    {
        LogEvent("work directory: %s leads to another folder than the one made", path);
        return false;
    }
    return true;
}

// Holds every folder above the directory (the drive's root aside) open without delete sharing:
// renaming or deleting a folder takes an open for delete, which the hold refuses, so no level of
// the path can be moved, deleted or put back as a junction while the run lasts. A level moved
// before it was held shows in the directory's final path, which is asked for once more: when it
// changed meanwhile, what is held is not the way to the directory.
bool CWorkDirectory::HoldLevels(const wchar_t* path)
{
    if (!HoldFoldersAbove(path, m_hLevels, "work directory"))
        return false;
    wchar_t again[MAX_PATH + 8];
    if (!GetHeldPath(m_Calls, m_hHold.Get(), again) || wcscmp(again, path) != 0)
    {
        LogEvent("work directory: its path changed while it was being held");
        return false;
    }
    return true;
}

// A directory that the run made and refused: still empty, it goes. It is recorded first, so
// that one that cannot go now (somebody put a file into it meanwhile, or its removal fails) is
// removed by the next run.
void CWorkDirectory::RemoveRefused()
{
    wchar_t path[MAX_PATH + 8];
    const bool recorded = GetHeldPath(m_Calls, m_hHold.Get(), path) &&
                          m_Calls.pRecord(m_hHold.Get(), path);
    if (DeleteHeldFolder(m_hHold, "work directory", m_szPath))
    {
        if (recorded)
            m_Calls.pForgetRecord(path);
    }
    else
    {
        LogEvent("work directory: %s refused and not removed; %s", m_szPath,
                 recorded ? "left to the next run by its record" : "not recorded");
    }
    ReleaseHold();
}

void CWorkDirectory::ReleaseHold()
{
    m_hHold.Reset();
    for (CKernelHandle& level : m_hLevels)
        level.Reset();
}

bool CWorkDirectory::Check() const
{
    // FindFirstFile finds a folder by its path without the trailing backslash.
    char folder[MAX_PATH];
    lstrcpyA(folder, m_szPath);
    return m_bCreated && RemoveBackslashFrom(folder) && m_Calls.pFolderExists(folder);
}

void CWorkDirectory::Remove()
{
    if (!m_bCreated)
        return;
    m_bCreated = false;
    DeleteFolderContents(m_hHold.Get(), "work directory");
    const bool removed = DeleteHeldFolder(m_hHold, "work directory", m_szPath);
    ReleaseHold();
    if (removed)
    {
        LogEvent("work directory: %s removed", m_szPath);
        m_Calls.pForgetRecord(m_szFinalPath);
    }
}
