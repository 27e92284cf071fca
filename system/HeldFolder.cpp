#include "system/HeldFolder.h"
#include <aclapi.h>
#include <new>
#include <sddl.h>
#include <string.h>
#include "base/Log.h"
#include "base/NtFile.h"

namespace {

// Owned by Administrators, so that the user's own processes cannot take the access list back;
// Administrators and SYSTEM only, inherited by everything written inside; the DACL is protected
// so that nothing of the parent's own access list flows in.
const char kAdminOnlySddl[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
// Names tried for the folder that another one is compared with.
const DWORD kReferenceTries = 16;

// The listing of a directory read through its handle, one record after the other. A second open
// of the held directory for listing would have to share the delete access that the hold keeps,
// which not every system grants; the handle itself can always list.
class CDirectoryListing
{
public:
    explicit CDirectoryListing(HANDLE directory)
        : m_hDirectory(directory), m_pBuffer(new (std::nothrow) BYTE[kListingSize]),
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
                    !GetFileInformationByHandleEx(m_hDirectory, m_Class, m_pBuffer, kListingSize))
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

// Deletes everything in the folder open as directory, depth first. Each entry is opened by
// its name inside the handle of its own folder, as what it is (a link itself, never what it
// points to), and deleted through its own handle: no path is ever walked again, so a folder that
// somebody swaps for a junction between the listing and the deletion leads nowhere else.
void DeleteContents(HANDLE directory, const char* what)
{
    CDirectoryListing listing(directory);
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
            LogFailure("NtCreateFile", error, "%s: an entry inside stays", what);
            continue;
        }
        // What the handle holds decides, not what the listing said a moment before.
        const DWORD attributes = info.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            DeleteContents(entry.Get(), what);
        if ((attributes & FILE_ATTRIBUTE_READONLY) && !ClearReadOnly(entry.Get(), attributes))
            LogFailure("SetFileInformationByHandle", GetLastError(),
                       "%s: an entry inside stays read-only", what);
        if (!SetDeleteDisposition(entry.Get()))
            LogFailure("SetFileInformationByHandle", GetLastError(),
                       "%s: an entry inside stays", what);
    }
}

// True when both descriptors name the same owner and hold the same DACL, its protection from
// inheritance included.
bool SameOwnerAndAccess(PSECURITY_DESCRIPTOR first, PSECURITY_DESCRIPTOR second)
{
    PSID owners[2] = {NULL, NULL};
    PACL dacls[2] = {NULL, NULL};
    SECURITY_DESCRIPTOR_CONTROL controls[2] = {0, 0};
    const PSECURITY_DESCRIPTOR descriptors[2] = {first, second};
    for (int i = 0; i < 2; ++i)
    {
        BOOL defaulted = FALSE, present = FALSE;
        DWORD revision = 0;
        if (!GetSecurityDescriptorOwner(descriptors[i], &owners[i], &defaulted) || !owners[i] ||
            !GetSecurityDescriptorDacl(descriptors[i], &present, &dacls[i], &defaulted) ||
            !present || !dacls[i] ||
            !GetSecurityDescriptorControl(descriptors[i], &controls[i], &revision))
            return false;
    }
    if (!EqualSid(owners[0], owners[1]) || ((controls[0] ^ controls[1]) & SE_DACL_PROTECTED) ||
        dacls[0]->AceCount != dacls[1]->AceCount)
        return false;
    for (WORD i = 0; i < dacls[0]->AceCount; ++i)
    {
        ACE_HEADER* aces[2] = {NULL, NULL};
        if (!GetAce(dacls[0], i, reinterpret_cast<void**>(&aces[0])) ||
            !GetAce(dacls[1], i, reinterpret_cast<void**>(&aces[1])) ||
            aces[0]->AceSize != aces[1]->AceSize || memcmp(aces[0], aces[1], aces[0]->AceSize) != 0)
            return false;
    }
    return true;
}

// The owner and DACL of the file or folder of the handle (read-control access); free it with
// LocalFree. Null when they cannot be read.
PSECURITY_DESCRIPTOR ReadOwnerAndAccess(HANDLE handle, const char* what)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    const DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        NULL, NULL, NULL, NULL, &descriptor);
    if (error != ERROR_SUCCESS)
    {
        LogFailure("GetSecurityInfo", error, "%s: its security", what);
        return NULL;
    }
    return descriptor;
}

} // namespace

const FolderCalls& SystemFolderCalls()
{
    static const FolderCalls calls = {GetFinalPathNameByHandleW, GetVolumeInformationByHandleW,
                                      GetDriveTypeW};
    return calls;
}

bool GetFileIdentity(HANDLE handle, FileIdentity& identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    identity.dwVolume = info.dwVolumeSerialNumber;
    identity.id = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
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

void DeleteFolderContents(HANDLE folder, const char* what)
{
    DeleteContents(folder, what);
}

bool DeleteFolderTree(HANDLE folder, const char* what)
{
    DeleteContents(folder, what);
    return SetDeleteDisposition(folder);
}

bool DeleteHeldFolder(CKernelHandle& hold, const char* what, const char* name)
{
    FileIdentity identity;
    const bool identified = GetFileIdentity(hold.Get(), identity);
    const DWORD identityError = GetLastError();
    // Any handle on the volume tells OpenFileById where to look; this one asks for nothing that
    // the open for delete would have to share.
    CKernelHandle volume(identified ? ReOpenFile(hold.Get(), FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 FILE_FLAG_BACKUP_SEMANTICS)
                                    : NULL);
    const DWORD volumeError = GetLastError();
    hold.Reset();
    if (!identified || !volume.IsSet())
    {
        LogFailure(identified ? "ReOpenFile" : "GetFileInformationByHandle",
                   identified ? volumeError : identityError, "%s: %s stays", what, name);
        return false;
    }
    FILE_ID_DESCRIPTOR descriptor = {};
    descriptor.dwSize = sizeof(descriptor);
    descriptor.Type = FileIdType;
    descriptor.FileId.QuadPart = static_cast<LONGLONG>(identity.id);
    CKernelHandle folder(OpenFileById(volume.Get(), &descriptor, DELETE | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    if (folder.IsSet() && SetDeleteDisposition(folder.Get()))
        return true;
    LogFailure(folder.IsSet() ? "SetFileInformationByHandle" : "OpenFileById", GetLastError(),
               "%s: %s stays", what, name);
    return false;
}

PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor()
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdminOnlySddl, SDDL_REVISION_1,
                                                              &descriptor, NULL))
        return NULL;
    return descriptor;
}

bool HasSecurityOfNewFolder(HANDLE folder, HANDLE parent, PSECURITY_DESCRIPTOR descriptor,
                            const char* what)
{
    CKernelHandle reference;
    DWORD error = ERROR_ALREADY_EXISTS;
    for (DWORD number = GetTickCount(), tries = 0; tries < kReferenceTries; ++number, ++tries)
    {
        wchar_t name[32];
        const int length = wsprintfW(name, L"PivoraSetup-%08lX.tmp", number);
        error = OpenNative(parent, name, length, DELETE | READ_CONTROL, 0, kNtFileCreate,
                           kNtDirectoryFile | kNtDeleteOnClose, descriptor, reference);
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    if (error != ERROR_SUCCESS)
    {
        LogFailure("NtCreateFile", error, "%s: no folder to compare with", what);
        return false;
    }
    CLocalMemory expected(ReadOwnerAndAccess(reference.Get(), what));
    CLocalMemory found(ReadOwnerAndAccess(folder, what));
    return expected.IsSet() && found.IsSet() && SameOwnerAndAccess(expected.Get(), found.Get());
}
