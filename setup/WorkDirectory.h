// The work directory of a run: a new folder in the temporary folder that the run owns from its
// creation to its removal, and that nobody else can rename, delete or swap meanwhile.
#pragma once
#include <windows.h>
#include "base/ScopedHandle.h"

// A path of MAX_PATH characters has at most this many levels below its drive.
const int kMaxPathLevels = MAX_PATH / 2;

// The Windows calls by which the run finds its temporary folder, names its work directory and
// learns what it made. The run uses the system's; a test gives its own to reach the ends that a
// real system rarely shows (every name taken, a directory gone after it was made, a final path
// that Windows would rewrite or that leads elsewhere, a volume that keeps no access lists, a
// folder swapped between its listing and its removal).
struct WorkDirectoryCalls
{
    DWORD (WINAPI* pGetTempPathW)(DWORD, LPWSTR);
    // The number that the naming starts from; the run takes the clock's.
    DWORD (*pFirstNumber)();
    bool (*pFolderExists)(const char*);
    DWORD (WINAPI* pGetFinalPathNameByHandleW)(HANDLE, LPWSTR, DWORD, DWORD);
    BOOL (WINAPI* pGetVolumeInformationByHandleW)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD,
                                                  LPWSTR, DWORD);
    // The listing of a folder that the removal reads.
    BOOL (WINAPI* pGetFileInformationByHandleEx)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
};
const WorkDirectoryCalls& SystemWorkDirectoryCalls();

// The temporary folder of the run into folder (MAX_PATH bytes): GetTempPathW's, as the ANSI code
// page names it exactly or else in its short form; "C:\" when the call fails, the folder would
// not fit, or the code page cannot name it either way.
void GetTemporaryFolder(char* folder, const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());

// The Windows temporary folder ("Temp" in the Windows directory) into folder (MAX_PATH bytes):
// only administrators and the system can change that path, so an elevated run is safe there
// whatever the user's own temporary folder is. False when the code page cannot name it.
bool GetWindowsTemporaryFolder(char* folder);

class CWorkDirectory
{
public:
    explicit CWorkDirectory(const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());
    ~CWorkDirectory();
    CWorkDirectory(const CWorkDirectory&) = delete;
    CWorkDirectory& operator=(const CWorkDirectory&) = delete;

    // Names the directory in tempFolder ("exp", up to four hex digits, ".tmp": the next number
    // while a name is taken, "exp.tmp" when none is free), and makes it, secure, and holds it
    // open in one step; from then on its path is the final one that Windows reports for the held
    // directory. False when there is no work directory: the folder leaves no room for the files
    // the run writes there, the directory cannot be made (or made secure while elevated), or the
    // run would not be safe in it: not on a local volume, a volume without access lists while
    // elevated, a level that cannot be held, or a final path that does not name the held
    // directory itself. Nothing of the run's is left behind.
    bool Create(const char* tempFolder);
    // True when the path names a directory; the path then ends with a backslash.
    bool Check();
    // Deletes everything in the directory and then the held directory itself, and only then lets
    // go of it; nothing when there is none.
    void Remove();
    const char* GetPath() const { return m_szPath; }

private:
    bool TakeFinalPath();
    bool IsSafeVolume(const wchar_t* path);
    bool HoldLevels(const wchar_t* path);
    bool NamesHeldDirectory(const char* path);
    bool DeleteHeld();
    void ReleaseHold();

    const WorkDirectoryCalls& m_Calls;
    char m_szPath[MAX_PATH];
    // A final path may take up to MAX_PATH + 3 characters without its "\\?\" (its short
    // form may still fit the ANSI calls).
    wchar_t m_szFinalPath[MAX_PATH + 8];
    CKernelHandle m_hHold;
    CKernelHandle m_hLevels[kMaxPathLevels];   // every folder above it, the drive's root aside
    bool m_bCreated;
};

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

// Deletes everything in the directory open as directory (list and delete access), depth first,
// each entry through a handle opened by its name inside its own folder's handle, links themselves
// and never what they point to; then sets the directory itself to be deleted once the handle is
// closed. False when that last step fails.
bool DeleteDirectoryTree(HANDLE directory, const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());

// The security of the work directory of an elevated run: owned by Administrators, full access
// for Administrators and SYSTEM only, inherited by everything inside, nothing inherited from
// the parent. Free it with LocalFree; null when it cannot be made.
PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor();
