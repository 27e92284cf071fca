// The work directory of a run: a new folder in the temporary folder that the run owns from its
// creation to its removal, and that nobody else can rename, delete or swap meanwhile.
#pragma once
#include <windows.h>
#include "base/ScopedHandle.h"
#include "system/HeldFolder.h"

// The Windows calls by which the run finds its temporary folder, names its work directory,
// learns what it made and keeps the record of it. The run uses the system's; a test gives its
// own to reach the ends that a real system rarely shows (every name taken, a directory gone after
// it was made, and those of FolderCalls).
struct WorkDirectoryCalls
{
    DWORD (WINAPI* pGetTempPathW)(DWORD, LPWSTR);
    // The number that the naming starts from; the run takes the clock's.
    DWORD (*pFirstNumber)();
    bool (*pFolderExists)(const char*);
    // The record in HKEY_LOCAL_MACHINE by which the next run removes a directory that this one
    // never got to remove (setup/WorkDirectoryRecord.h): written for the held directory (its
    // final path), deleted once the directory is gone.
    bool (*pRecord)(HANDLE, const wchar_t*);
    void (*pForgetRecord)(const wchar_t*);
    FolderCalls folder;
};
const WorkDirectoryCalls& SystemWorkDirectoryCalls();

// The temporary folder of the run into folder (MAX_PATH bytes): GetTempPathW's, as the ANSI code
// page names it exactly or else in its short form; "C:\" when the call fails, the folder would
// not fit, or the code page cannot name it either way.
void GetTemporaryFolder(char* folder, const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());

// The Windows temporary folder ("Temp" in the system's Windows directory) into folder (MAX_PATH
// bytes): only administrators and the system can change that path, so an elevated run is safe
// there whatever the user's own temporary folder is. False when the code page cannot name it.
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
    // directory, and it is recorded for the next run. False when there is no work directory: the
    // folder leaves no room for the files the run writes there, the directory cannot be made (or
    // made secure while elevated), or the run would not be safe in it: not on a local volume, a
    // volume without access lists while elevated, a level that cannot be held, or a final path
    // that does not name the held directory itself. Nothing of the run's is left behind but a
    // refused directory that cannot be removed, which is recorded.
    bool Create(const char* tempFolder);
    // True when the directory is still there.
    bool Check() const;
    // Deletes everything in the directory and then the held directory itself, and forgets its
    // record; nothing when there is none.
    void Remove();
    // The directory's path, ending with a backslash once Create succeeded.
    const char* GetPath() const { return m_szPath; }

private:
    bool MakeAndHold(const char* tempFolder);
    bool TakeFinalPath();
    bool IsSafePlace(const wchar_t* path, char* ansi);
    bool IsSafeVolume(const wchar_t* path);
    bool HoldLevels(const wchar_t* path);
    bool NamesHeldDirectory(const char* path);
    void RemoveRefused();
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
