// The work directory of a run: a new folder in the temporary folder that the run owns from its
// creation to its removal, and that nobody else can rename, delete or swap meanwhile.
#pragma once
#include <windows.h>
#include "base/ScopedHandle.h"

// The Windows calls by which the run finds its temporary folder and names and finds its work
// directory. The run uses the system's; a test gives its own to reach the ends that a real
// system rarely shows (no temporary name to be had, a directory gone after it was made).
struct WorkDirectoryCalls
{
    DWORD (WINAPI* pGetTempPathA)(DWORD, LPSTR);
    UINT (WINAPI* pGetTempFileNameA)(LPCSTR, LPCSTR, UINT, LPSTR);
    bool (*pFolderExists)(const char*);
};
const WorkDirectoryCalls& SystemWorkDirectoryCalls();

// The temporary folder of the run into folder (MAX_PATH bytes): GetTempPathA's, or "C:" when
// that fails or would not fit.
void GetTemporaryFolder(char* folder, const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());

class CWorkDirectory
{
public:
    explicit CWorkDirectory(const WorkDirectoryCalls& calls = SystemWorkDirectoryCalls());
    ~CWorkDirectory();
    CWorkDirectory(const CWorkDirectory&) = delete;
    CWorkDirectory& operator=(const CWorkDirectory&) = delete;

    // Names the directory in tempFolder ("exp*.tmp" by GetTempFileNameA, else "exp.tmp"),
    // creates it, makes it secure and holds it open. False when there is no work directory:
    // the folder leaves no room for the files the run writes there, or the directory cannot be
    // made, made secure while elevated, held, or is a reparse point; nothing is left behind.
    bool Create(const char* tempFolder);
    // True when the path names a directory; the path then ends with a backslash.
    bool Check();
    // Lets go of the directory and deletes it with everything in it; nothing when there is none.
    void Remove();
    const char* GetPath() const { return m_szPath; }

private:
    bool Hold();

    const WorkDirectoryCalls& m_Calls;
    char m_szPath[MAX_PATH];
    CKernelHandle m_hHold;
    bool m_bCreated;
};

// The security of the work directory of an elevated run: owned by Administrators, full access
// for Administrators and SYSTEM only, inherited by everything inside, nothing inherited from
// the parent. Free it with LocalFree; null when it cannot be made.
PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor();
