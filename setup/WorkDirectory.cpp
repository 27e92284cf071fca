#include "setup/WorkDirectory.h"
#include <sddl.h>
#include <shellapi.h>
#include "base/Text.h"
#include "payload/ChildProcess.h"
#include "setup/Hardening.h"
#include "ui/Folder.h"

namespace {

// GetTempFileNameA names the work directory "exp", up to four hex digits, ".tmp".
const int kNameLength = 11;

// Owned by Administrators, so that the user's own processes cannot take the access list back;
// Administrators and SYSTEM only, inherited by everything the run writes inside; the DACL is
// protected so that nothing of the temporary folder's own access list flows in.
const char kAdminOnlySddl[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Elevated, only Administrators and SYSTEM get in, so that a process of the same user that is
// not elevated cannot change what the run will start; a descriptor that cannot be had means no
// work directory, never one with the default security. Not elevated, the default security.
bool CreateSecureDirectory(const char* path)
{
    if (!IsProcessElevated())
        return CreateDirectoryA(path, NULL) != FALSE;
    CLocalMemory descriptor(CreateAdminOnlyDescriptor());
    if (!descriptor.IsSet())
        return false;
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor.Get(), FALSE};
    return CreateDirectoryA(path, &security) != FALSE;
}

} // namespace

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
    static const WorkDirectoryCalls calls = {GetTempPathA, GetTempFileNameA, FolderExists};
    return calls;
}

void GetTemporaryFolder(char* folder, const WorkDirectoryCalls& calls)
{
    DWORD length = calls.pGetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH)   // failed, or would not fit
        lstrcpyA(folder, "C:\\");
}

CWorkDirectory::CWorkDirectory(const WorkDirectoryCalls& calls) : m_Calls(calls), m_bCreated(false)
{
    m_szPath[0] = '\0';
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
        return false;
    if (!m_Calls.pGetTempFileNameA(tempFolder, "exp", 0, m_szPath))
    {
        lstrcpynA(m_szPath, tempFolder, MAX_PATH);
        AddBackslashTo(m_szPath, MAX_PATH);
        lstrcatA(m_szPath, "exp.tmp");
    }
    DeleteFileA(m_szPath);   // the placeholder file GetTempFileNameA made
    if (!CreateSecureDirectory(m_szPath))
        return false;
    if (!Hold())
    {
        // Whatever is there now is no longer known to be ours: only an empty directory or a
        // link itself goes, never what a link points to.
        m_hHold.Reset();
        RemoveDirectoryA(m_szPath);
        return false;
    }
    m_bCreated = true;
    return true;
}

// The user may rename or delete any child of the temporary folder whatever its access list
// says. Held open without delete sharing, the directory can be neither, so nobody can put a
// folder or a junction of their own in its place while the run writes and starts programs
// there. The open takes the reparse point itself, not its target, to tell one apart.
bool CWorkDirectory::Hold()
{
    m_hHold.Reset(CreateFileA(m_szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL));
    BY_HANDLE_FILE_INFORMATION info;
    return m_hHold.IsSet() && GetFileInformationByHandle(m_hHold.Get(), &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY;
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
    m_hHold.Reset();

    // SHFileOperation wants the path without a trailing backslash and ended by two NULs.
    char from[MAX_PATH + 2];
    ZeroMemory(from, sizeof(from));
    lstrcpynA(from, m_szPath, MAX_PATH);
    RemoveBackslashFrom(from);
    SHFILEOPSTRUCTA op;
    ZeroMemory(&op, sizeof(op));
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.pTo = "";
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationA(&op);
}
