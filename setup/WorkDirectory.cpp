#include "setup/WorkDirectory.h"
#include <new>
#include <sddl.h>
#include <wchar.h>
#include "base/AnsiPath.h"
#include "base/Log.h"
#include "base/Module.h"
#include "base/NtFile.h"
#include "base/Text.h"
#include "payload/ChildProcess.h"
#include "setup/Hardening.h"
#include "setup/StaleWorkDirectory.h"
#include "ui/Folder.h"

namespace {

// The work directory is named "exp", up to four hex digits, ".tmp".
const int kNameLength = 11;
const DWORD kNumbers = 0x10000;
const wchar_t kLongPrefix[] = L"\\\\?\\";

// Owned by Administrators, so that the user's own processes cannot take the access list back;
// Administrators and SYSTEM only, inherited by everything the run writes inside; the DACL is
// protected so that nothing of the temporary folder's own access list flows in.
const char kAdminOnlySddl[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// The directory and every file the run writes into it fit in MAX_PATH.
bool HasRoomForWorkFiles(const char* directory)
{
    return lstrlenA(directory) + 1 + kLongestWorkFileName < MAX_PATH;
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

// The listing of a directory read through its handle, one record after the other. A second open
// of the held directory for listing would have to share the delete access that the hold keeps,
// which not every system grants; the handle itself can always list.
class CDirectoryListing
{
public:
    CDirectoryListing(HANDLE directory, const WorkDirectoryCalls& calls)
        : m_Calls(calls), m_hDirectory(directory), m_pBuffer(new (std::nothrow) BYTE[kListingSize]),
          m_pNext(NULL), m_Class(FileFullDirectoryRestartInfo)
    {
    }
    ~CDirectoryListing() { delete[] m_pBuffer; }
    CDirectoryListing(const CDirectoryListing&) = delete;
    CDirectoryListing& operator=(const CDirectoryListing&) = delete;

    // The next record, "." and ".." left out; null at the end.
    const FILE_FULL_DIR_INFO* Next()
    {
        for (;;)
        {
            if (!m_pNext)
            {
                if (!m_pBuffer ||
                    !m_Calls.pGetFileInformationByHandleEx(m_hDirectory, m_Class, m_pBuffer,
                                                           kListingSize))
                    return NULL;
                m_Class = FileFullDirectoryInfo;
                m_pNext = m_pBuffer;
            }
            const FILE_FULL_DIR_INFO* record = reinterpret_cast<const FILE_FULL_DIR_INFO*>(m_pNext);
            m_pNext = record->NextEntryOffset ? m_pNext + record->NextEntryOffset : NULL;
            const DWORD length = record->FileNameLength / sizeof(wchar_t);
            const bool dots = record->FileName[0] == L'.' &&
                              (length == 1 || (length == 2 && record->FileName[1] == L'.'));
            if (!dots)
                return record;
        }
    }

private:
    static const DWORD kListingSize = 16 * 1024;
    const WorkDirectoryCalls& m_Calls;
    HANDLE m_hDirectory;
    BYTE* m_pBuffer;
    BYTE* m_pNext;
    FILE_INFO_BY_HANDLE_CLASS m_Class;
};

// Sets the directory of the handle to be deleted once it is closed; it goes when it is empty by
// then, and as what the handle holds, never by a path that might lead elsewhere by now.
bool SetDeleteDisposition(HANDLE directory)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(directory, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

// Takes the read-only attribute off the file or folder of the handle: Windows deletes neither a
// file nor a folder that carries it.
bool ClearReadOnly(HANDLE entry, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};   // times of 0 stay as they are
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (!basic.FileAttributes)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// Deletes everything in the directory open as directory, depth first. Each entry is opened by
// its name inside the handle of its own folder, as what it is (a link itself, never what it
// points to), and deleted through its own handle: no path is ever walked again, so a folder that
// somebody swaps for a junction between the listing and the deletion leads nowhere else.
void DeleteContents(HANDLE directory, const WorkDirectoryCalls& calls)
{
    CDirectoryListing listing(directory, calls);
    while (const FILE_FULL_DIR_INFO* record = listing.Next())
    {
        CKernelHandle entry;
        DWORD error = OpenNative(directory, record->FileName,
                                 static_cast<int>(record->FileNameLength / sizeof(wchar_t)),
                                 FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
                                     DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kNtFileOpen,
                                 0, NULL, entry);
        BY_HANDLE_FILE_INFORMATION info;
        if (error == ERROR_SUCCESS && !GetFileInformationByHandle(entry.Get(), &info))
            error = GetLastError();
        if (error != ERROR_SUCCESS)
        {
            LogFailure("NtCreateFile", error, "work directory: an entry inside stays");
            continue;
        }
        // What the handle holds decides, not what the listing said a moment before.
        const DWORD attributes = info.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            DeleteContents(entry.Get(), calls);
        if ((attributes & FILE_ATTRIBUTE_READONLY) && !ClearReadOnly(entry.Get(), attributes))
            LogFailure("SetFileInformationByHandle", GetLastError(),
                       "work directory: an entry inside stays read-only");
        if (!SetDeleteDisposition(entry.Get()))
            LogFailure("SetFileInformationByHandle", GetLastError(),
                       "work directory: an entry inside stays");
    }
}

// The final path of the held directory, without the "\\?\" prefix, into path (MAX_PATH + 8
// characters); false when there is none.
bool GetHeldPath(const WorkDirectoryCalls& calls, HANDLE directory, wchar_t* path)
{
    wchar_t final[MAX_PATH + 8];
    const DWORD size = sizeof(final) / sizeof(final[0]);
    DWORD length = calls.pGetFinalPathNameByHandleW(directory, final, size,
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= size)
    {
        LogFailure("GetFinalPathNameByHandleW", length ? ERROR_INSUFFICIENT_BUFFER : GetLastError(),
                   "work directory: no final path");
        return false;
    }
    lstrcpyW(path, wcsncmp(final, kLongPrefix, 4) ? final : final + 4);
    return true;
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

bool GetFileIdentity(HANDLE handle, FileIdentity& identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    identity.dwVolume = info.dwVolumeSerialNumber;
    identity.id = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool DeleteDirectoryTree(HANDLE directory, const WorkDirectoryCalls& calls)
{
    DeleteContents(directory, calls);
    return SetDeleteDisposition(directory);
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

bool HoldFoldersAbove(const wchar_t* path, CKernelHandle* levels, const char* what)
{
    const int length = lstrlenW(path);
    int count = 0;
    for (int i = 3; i < length; ++i)
    {
        if (path[i] != L'\\')
            continue;
        wchar_t level[MAX_PATH + 8];
        lstrcpynW(level, path, i + 1);
        if (count == kMaxPathLevels)
        {
            LogEvent("%s: more than %d folders above it", what, kMaxPathLevels);
            return false;
        }
        levels[count].Reset(CreateFileW(level, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        NULL));
        BY_HANDLE_FILE_INFORMATION info;
        if (!levels[count].IsSet())
        {
            LogFailure("CreateFileW", GetLastError(), "%s: a folder above it cannot be held", what);
            return false;
        }
        if (!GetFileInformationByHandle(levels[count].Get(), &info))
        {
            LogFailure("GetFileInformationByHandle", GetLastError(), "%s: a folder above it", what);
            return false;
        }
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        {
            LogEvent("%s: a folder above it is a link or a mount point", what);
            return false;
        }
        ++count;
    }
    return true;
}

PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor()
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdminOnlySddl, SDDL_REVISION_1,
                                                              &descriptor, NULL))
        return NULL;
    return descriptor;
}

const WorkDirectoryCalls& SystemWorkDirectoryCalls()
{
    static const WorkDirectoryCalls calls = {GetTempPathW, FirstNumberFromClock, FolderExists,
                                             GetFinalPathNameByHandleW,
                                             GetVolumeInformationByHandleW,
                                             GetFileInformationByHandleEx};
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
    // The paths of the files written inside must fit: decided before anything is created.
    lstrcpynA(m_szPath, tempFolder, MAX_PATH);
    if (!AddBackslashTo(m_szPath, MAX_PATH) ||
        lstrlenA(m_szPath) + kNameLength + 1 + kLongestWorkFileName >= MAX_PATH)
    {
        LogEvent("work directory: none; %s leaves no room for the files of the run", tempFolder);
        return false;
    }
    // Named here and made in the same step as the check that the name is free: a name that is
    // taken (left by an earlier run, or made by somebody who guessed it) is passed by for the
    // next one, and nothing is ever made or deleted by a name that was only checked before.
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
    if (!TakeFinalPath())
    {
        // Still empty, it goes. Recorded first, so that one that cannot go now (somebody put a
        // file into it meanwhile, or its removal fails) is removed by the next run.
        wchar_t path[MAX_PATH + 8];
        const bool recorded = GetHeldPath(m_Calls, m_hHold.Get(), path) &&
                              RecordWorkDirectory(m_hHold.Get(), path);
        if (DeleteHeld())
        {
            if (recorded)
                ForgetWorkDirectory(path);
        }
        else
        {
            LogEvent("work directory: %s refused and not removed; %s", m_szPath,
                     recorded ? "left to the next run by its record" : "not recorded");
        }
        return false;
    }
    m_bCreated = true;
    LogEvent("work directory: %s made and held", m_szPath);
    RecordWorkDirectory(m_hHold.Get(), m_szFinalPath);
    return true;
}

// From the hold on, the directory is named by the path that Windows reports for the held handle,
// with every link and short name resolved, and every level of that path is held too: every later
// step reaches this directory, whatever a level of the temporary folder's path that the user owns
// was or is changed to.
bool CWorkDirectory::TakeFinalPath()
{
    wchar_t path[MAX_PATH + 8];
    if (!GetHeldPath(m_Calls, m_hHold.Get(), path) || !IsSafeVolume(path))
        return false;
    // Every later step names the directory through Win32 calls: a path that they would read as
    // another one leads them into a folder that the run did not make.
    if (IsRewrittenByWin32(path))
    {
        LogWide("work directory: Win32 would read its final path as another one: ", path);
        return false;
    }
    char ansi[MAX_PATH];
    if (!GetAnsiPath(path, ansi, MAX_PATH) || !HasRoomForWorkFiles(ansi))
    {
        LogEvent("work directory: the final path of %s cannot take the files of the run in code "
                 "page %u", m_szPath, GetACP());
        return false;
    }
    if (!HoldLevels(path) || !NamesHeldDirectory(ansi))
        return false;
    if (lstrcmpA(ansi, m_szPath) != 0)
        LogEvent("work directory: %s is %s", m_szPath, ansi);
    lstrcpyA(m_szPath, ansi);
    lstrcpyW(m_szFinalPath, path);
    return true;
}

// A local volume (the hold means nothing on a server; a CD is no place to write), and while
// elevated one that keeps access lists: FAT and exFAT drop the admin-only descriptor without an
// error, and anybody could then write into the directory.
bool CWorkDirectory::IsSafeVolume(const wchar_t* path)
{
    const wchar_t root[4] = {path[0], L':', L'\\', L'\0'};
    const UINT type = path[1] == L':' && path[2] == L'\\' ? GetDriveTypeW(root) : DRIVE_REMOTE;
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
    if (!m_Calls.pGetVolumeInformationByHandleW(m_hHold.Get(), NULL, 0, NULL, NULL, &flags,
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

// Lets go of the held directory and deletes it through a handle opened by its file ID: the
// directory that the run made, wherever it is by now, and nothing else. It goes when it is empty.
bool CWorkDirectory::DeleteHeld()
{
    FileIdentity identity;
    const bool identified = GetFileIdentity(m_hHold.Get(), identity);
    const DWORD identityError = GetLastError();
    // Any handle on the volume tells OpenFileById where to look; this one asks for nothing that
    // the open for delete would have to share.
    CKernelHandle volume(identified ? ReOpenFile(m_hHold.Get(), FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 FILE_FLAG_BACKUP_SEMANTICS)
                                    : NULL);
    const DWORD volumeError = GetLastError();
    m_hHold.Reset();
    bool deleted = false;
    if (!identified || !volume.IsSet())
    {
        LogFailure(identified ? "ReOpenFile" : "GetFileInformationByHandle",
                   identified ? volumeError : identityError, "work directory: %s stays", m_szPath);
    }
    else
    {
        FILE_ID_DESCRIPTOR descriptor = {};
        descriptor.dwSize = sizeof(descriptor);
        descriptor.Type = FileIdType;
        descriptor.FileId.QuadPart = static_cast<LONGLONG>(identity.id);
        CKernelHandle directory(OpenFileById(volume.Get(), &descriptor, DELETE | SYNCHRONIZE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             NULL,
                                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
        deleted = directory.IsSet() && SetDeleteDisposition(directory.Get());
        if (!deleted)
            LogFailure(directory.IsSet() ? "SetFileInformationByHandle" : "OpenFileById",
                       GetLastError(), "work directory: %s stays", m_szPath);
    }
    ReleaseHold();
    return deleted;
}

void CWorkDirectory::ReleaseHold()
{
    m_hHold.Reset();
    for (CKernelHandle& level : m_hLevels)
        level.Reset();
}

bool CWorkDirectory::Check()
{
    return m_bCreated && m_Calls.pFolderExists(m_szPath) && AddBackslashTo(m_szPath, MAX_PATH);
}

void CWorkDirectory::Remove()
{
    if (!m_bCreated)
        return;
    m_bCreated = false;
    DeleteContents(m_hHold.Get(), m_Calls);
    if (DeleteHeld())
    {
        LogEvent("work directory: %s removed", m_szPath);
        ForgetWorkDirectory(m_szFinalPath);
    }
}
