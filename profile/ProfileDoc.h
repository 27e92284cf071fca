// CProfileDoc: an INI-style text file held in memory as an ordered list of sections, each an
// ordered list of key and value pairs, loaded from a folder chosen by a folder type and
// written back in the same line format.
#pragma once
#include <windows.h>
#include "base/NodeList.h"
#include "base/Text.h"

// Where Load places a name that has no drive.
enum ProfileFolder
{
    kProfileFolderModule = 1,    // the directory of the running executable
    kProfileFolderCurrent = 2,   // the current directory
    kProfileFolderWindows = 3,   // the Windows directory
    kProfileFolderSystem = 4,    // the system directory
    kProfileFolderAsGiven = 5,   // none: the name is used as given (also any other value)
};

// One "key=value" line: a fixed 512-byte record, key in the first half, value in the second.
struct CProfileEntry
{
    char m_szKey[256];
    char m_szValue[256];
};

class CProfileSection
{
public:
    CProfileSection() { m_szName[0] = '\0'; }
    CProfileSection(const CProfileSection&) = delete;
    CProfileSection& operator=(const CProfileSection&) = delete;

    char m_szName[256];
    COwnerNodeList<CProfileEntry> m_Entries;
};

class CProfileDoc
{
public:
    CProfileDoc();
    CProfileDoc(const CProfileDoc&) = delete;
    CProfileDoc& operator=(const CProfileDoc&) = delete;

    virtual void ResetFlags();
    // Save to where the document was loaded from.
    virtual HRESULT Flush();
    // Flushes, then releases the sections with their entries.
    virtual ~CProfileDoc();

    // 0, also when the file ends early or cannot be read further; the open's code when the
    // file cannot be opened (the document is then empty); E_OUTOFMEMORY.
    HRESULT Load(const char* name, BOOL readOnly, int folderType);
    // 1 when nothing changed; E_FAIL without sections or, for a null path, when read-only;
    // the open's or the write's code; 0 when written.
    HRESULT Save(const char* path);

    CText m_strPath;                        // the name as passed to the last Load
    COwnerNodeList<CProfileSection> m_Sections;
    BOOL m_bReadOnly;
    BOOL m_bModified;
    CText m_strLoadedFrom;                  // the path the last Load resolved the name to
};
