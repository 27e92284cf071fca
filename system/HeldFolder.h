// Folders held open and told by what they are, not by their names. A program that works as
// administrator in folders that a user can change holds every level of a path, so that none can
// be renamed, deleted or swapped meanwhile; tells a folder by its volume and file ID; and removes
// what a folder holds through handles only, never by a path that may lead elsewhere by now.
#pragma once
#include <windows.h>
#include "base/FinalPath.h"
#include "base/ScopedHandle.h"

// A path of MAX_PATH characters has at most this many levels below its drive.
const int kMaxPathLevels = MAX_PATH / 2;

// The Windows calls by which a folder is told: the system's, unless a test gives its own to reach
// what a real system rarely shows (a final path that Windows would rewrite or that leads
// elsewhere, a volume that keeps no access lists).
struct FolderCalls
{
    GetFinalPathNameByHandleFn pGetFinalPathNameByHandleW;
    BOOL (WINAPI* pGetVolumeInformationByHandleW)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD,
                                                  LPWSTR, DWORD);
    UINT (WINAPI* pGetDriveTypeW)(LPCWSTR);
};
const FolderCalls& SystemFolderCalls();

// What a file or folder is, whatever it is called: its volume's serial number and its file ID.
struct FileIdentity
{
    DWORD dwVolume;
    ULONGLONG id;
    bool operator==(const FileIdentity& other) const
    {
        return dwVolume == other.dwVolume && id == other.id;
    }
};
bool GetFileIdentity(HANDLE handle, FileIdentity& identity);

// Holds every folder above path (the drive's root aside) into levels (kMaxPathLevels handles),
// each open without delete sharing and each a plain folder, never a link or a mount point:
// renaming or deleting a folder takes an open for delete, which the hold refuses, so while they
// are held the path leads where it led when they were opened. False when one cannot be held;
// the log names the cause, after what ("work directory").
bool HoldFoldersAbove(const wchar_t* path, CKernelHandle* levels, const char* what);

// Deletes everything in the folder open as folder (list access), depth first, each entry
// through a handle opened by its name inside its own folder's handle, links themselves and never
// what they point to. The log names what stays, after what.
void DeleteFolderContents(HANDLE folder, const char* what);
// The same, and then sets the folder itself to be deleted once the handle is closed (delete
// access). False when that last step fails.
bool DeleteFolderTree(HANDLE folder, const char* what);

// Lets go of the folder held by hold and deletes it through a handle opened by its file ID: that
// folder, wherever it is by now, and nothing else. It goes when it is empty. False when it stays;
// the log says why, after what and name.
bool DeleteHeldFolder(CKernelHandle& hold, const char* what, const char* name);

// The security of a folder that only an elevated program may change: owned by Administrators,
// full access for Administrators and SYSTEM only, inherited by everything inside, nothing
// inherited from the parent. Free it with LocalFree; null when it cannot be made.
PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor();

// True when the folder open as folder (read-control access) has the owner and DACL that a folder
// made at this moment in parent with descriptor reads back, its protection from inheritance
// included. That is what the volume keeps of the descriptor: NTFS keeps it as given, where a
// system that keeps less reads less back for every folder (Wine keeps no descriptor and reads back
// the Unix owner and mode). The folder made to compare with goes again as its handle closes. The
// log says why not, after what.
bool HasSecurityOfNewFolder(HANDLE folder, HANDLE parent, PSECURITY_DESCRIPTOR descriptor,
                            const char* what);
