// The environment that the programs the run starts get. Windows lays the user's environment
// settings (HKCU "Environment", and "Volatile Environment") over the machine's for every
// process of the user, elevated ones included, and any process of the user can change them:
// ComSpec, windir or Path there would choose what an elevated installer starts or loads, and
// TEMP where it unpacks its engine. So each variable that they define takes the machine's value
// (or is left out where the machine has none), Path is the machine's alone, and TEMP and TMP name
// a folder inside the work directory; everything else is as the run has it (the user's profile
// folders among it: the installers write the user's own files there).
#pragma once
#include <windows.h>

// The folder in the work directory that the started programs take as TEMP and TMP.
extern const char kChildTempFolder[];

class CChildEnvironment
{
public:
    CChildEnvironment() : m_pBlock(NULL) {}
    ~CChildEnvironment() { delete[] m_pBlock; }
    CChildEnvironment(const CChildEnvironment&) = delete;
    CChildEnvironment& operator=(const CChildEnvironment&) = delete;

    // Makes the temporary folder in workDir (ending with a backslash), which takes the work
    // directory's own access list, and builds the block. False when either fails (the log says
    // why): then no program may be started.
    bool Build(const char* workDir);
    // The block, UTF-16 (CREATE_UNICODE_ENVIRONMENT), sorted by name; null until Build succeeds.
    const wchar_t* GetBlock() const { return m_pBlock; }

private:
    wchar_t* m_pBlock;
};
