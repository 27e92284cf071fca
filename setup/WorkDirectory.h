// The work directory of a run: a new folder in the temporary folder that the run owns from its
// creation to its removal, and that nobody else can rename, delete or swap meanwhile.
#pragma once
#include <windows.h>
#include "base/ScopedHandle.h"

class CWorkDirectory
{
public:
    CWorkDirectory();
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

    char m_szPath[MAX_PATH];
    CKernelHandle m_hHold;
    bool m_bCreated;
};

// The security of the work directory of an elevated run: owned by Administrators, full access
// for Administrators and SYSTEM only, inherited by everything inside, nothing inherited from
// the parent. Free it with LocalFree; null when it cannot be made.
PSECURITY_DESCRIPTOR CreateAdminOnlyDescriptor();
