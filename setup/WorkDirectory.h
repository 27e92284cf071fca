// The work directory of a run: a new folder in the temporary folder that the run owns from its
// creation to its removal, and that nobody else can rename, delete or swap meanwhile.
#pragma once
#include <windows.h>
#include "base/ScopedHandle.h"

// The Windows calls by which the run finds its temporary folder and names and finds its work
// directory. The run uses the system's; a test gives its own to reach the ends that a real
// system rarely shows (no temporary name to be had, a name taken by somebody else before the
// directory was made, a directory gone after it was made).
struct WorkDirectoryCalls
{
    DWORD (WINAPI* pGetTempPathW)(DWORD, LPWSTR);
    UINT (WINAPI* pGetTempFileNameA)(LPCSTR, LPCSTR, UINT, LPSTR);
    bool (*pFolderExists)(const char*);
};
const WorkDirectoryCalls& SystemWorkDirectoryCalls();

// The temporary folder of the run into folder (MAX_PATH bytes): GetTempPathW's, as the ANSI code
// page names it exactly or else in its short form; "C:\" when the call fails, the folder would
// not fit, or the code page cannot name it either way.
void GetTemporaryFolder(char* folder, const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());

class CWorkDirectory
{
public:
    explicit CWorkDirectory(const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());
    ~CWorkDirectory();
    CWorkDirectory(const CWorkDirectory&) = delete;
    CWorkDirectory& operator=(const CWorkDirectory&) = delete;

    // Names the directory in tempFolder ("exp*.tmp" by GetTempFileNameA, else "exp.tmp"), and
    // makes it, secure, and holds it open in one step; from then on its path is the final one
    // that Windows reports for the held directory. False when there is no work directory: the
    // folder leaves no room for the files the run writes there, the name is taken, the
    // directory cannot be made (or made secure while elevated), or it does not lie on a local
    // fixed drive; nothing of the run's is left behind.
    bool Create(const char* tempFolder);
    // True when the path names a directory; the path then ends with a backslash.
    bool Check();
    // Deletes everything in the directory and then the held directory itself, and only then lets
    // go of it; nothing when there is none.
    void Remove();
    const char* GetPath() const { return m_szPath; }

private:
    // A path of MAX_PATH characters has at most this many levels below its drive.
    static const int kMaxLevels = MAX_PATH / 2;

    bool TakeFinalPath();
    bool HoldLevels(const wchar_t* path);
    bool DeleteHeld();
    void ReleaseHold();

    const WorkDirectoryCalls& m_Calls;
    char m_szPath[MAX_PATH];
    wchar_t m_szFinalPath[MAX_PATH];
    CKernelHandle m_hHold;
    CKernelHandle m_hLevels[kMaxLevels];   // every folder above it, the drive's root aside
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

// Deletes everything in the directory open as directory (list and delete access), whose final
// path is finalPath, depth first, links themselves and never what they point to; then sets the
// directory itself to be deleted once the handle is closed. False when that last step fails.
bool DeleteDirectoryTree(HANDLE directory, const wchar_t* finalPath);

// The security of the work directory of an elevated run: owned by Administrators, full access
// for Administrators and SYSTEM only, inherited by everything inside, nothing inherited from
// the parent. Free it with LocalFree; null when it cannot be made.
PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor();
