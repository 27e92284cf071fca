#include "profile/ProfileDoc.h"
#include "base/FileObject.h"
#include "base/CodePage.h"
#include "base/Module.h"
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

namespace
{

// Lines of the file are read into this many bytes, so a line holds at most 254 characters;
// longer lines come in as several.
const DWORD kLineBuffer = 255;

bool HasDrive(const char* name)
{
    // _splitpath writes its parts unchecked; a copy cut to MAX_PATH keeps every part within
    // the buffers, and the drive is decided by the first characters alone.
    char szName[MAX_PATH];
    lstrcpynA(szName, name, sizeof(szName));
    char szDrive[_MAX_DRIVE], szDir[MAX_PATH], szFile[MAX_PATH], szExt[MAX_PATH];
    _splitpath(szName, szDrive, szDir, szFile, szExt);
    return szDrive[0] != '\0';
}

bool GetShellFolder(int csidl, char* folder)
{
    LPITEMIDLIST pidl = NULL;
    if (FAILED(SHGetSpecialFolderLocation(NULL, csidl, &pidl)) || !pidl)
        return false;
    bool found = SHGetPathFromIDListA(pidl, folder) == TRUE;
    CoTaskMemFree(pidl);
    return found;
}

// The folder of a folder type into a MAX_PATH buffer; false when it has none or it cannot be had.
bool GetProfileFolder(int folderType, char* folder)
{
    folder[0] = '\0';
    switch (folderType)
    {
    case kProfileFolderModule:
        return GetModuleDirectory(folder, MAX_PATH) == 1;
    case kProfileFolderCurrent:
    {
        DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
        return length > 0 && length < MAX_PATH;
    }
    case kProfileFolderWindows:
        return GetShellFolder(CSIDL_WINDOWS, folder);
    case kProfileFolderSystem:
        return GetShellFolder(CSIDL_SYSTEM, folder);
    default:
        return false;
    }
}

HRESULT ResolveProfilePath(const char* name, int folderType, CText* path)
{
    // A name with a drive, and also a rooted or UNC name, is complete: a folder put in front
    // of it would make a path that names nothing.
    char folder[MAX_PATH];
    if (HasDrive(name) || name[0] == '\\' || name[0] == '/' ||
        !GetProfileFolder(folderType, folder) || folder[0] == '\0')
        return path->Assign(name) ? S_OK : E_OUTOFMEMORY;

    if (!path->Assign(folder) || !path->AddBackslash() || !path->AppendWhole(name))
        return E_OUTOFMEMORY;
    return S_OK;
}

bool IsSectionHeader(const char* line, int length)
{
    // The closing bracket must be a character of its own, not the second byte of a
    // double-byte character.
    return length >= 2 && line[0] == '[' && line[length - 1] == ']' &&
           !IsTrailByteAt(line, length - 1);
}

} // namespace

CProfileDoc::CProfileDoc() : m_bReadOnly(FALSE), m_bModified(FALSE)
{
}

CProfileDoc::~CProfileDoc()
{
    Flush();
}

void CProfileDoc::ResetFlags()
{
    m_bReadOnly = FALSE;
    m_bModified = FALSE;
}

HRESULT CProfileDoc::Flush()
{
    return Save(NULL);
}

HRESULT CProfileDoc::Load(const char* name, BOOL readOnly, int folderType)
{
    m_Sections.RemoveAll();
    if (!name)
        return E_INVALIDARG;

    CText path;
    HRESULT hr = ResolveProfilePath(name, folderType, &path);
    if (FAILED(hr))
        return hr;
    if (!m_strPath.Assign(name) || !m_strLoadedFrom.Assign(path.GetText()))
        return E_OUTOFMEMORY;
    m_bReadOnly = readOnly;

    CFileObject file;
    hr = file.Open(path.GetText(), OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   0, NULL);
    if (FAILED(hr))
        return hr;

    // The section being filled; null outside any section, at the start and after a broken
    // header, where lines are skipped up to the next header.
    CProfileSection* section = NULL;
    char line[kLineBuffer];
    // Anything but a full line ends the load, the end of the file too: a last line without a
    // line end is not used.
    while (file.ReadLine(line, sizeof(line)) == S_OK)
    {
        int length = lstrlenA(line);
        if (line[0] == '[')
        {
            section = NULL;
            if (!IsSectionHeader(line, length))
                continue;
            section = m_Sections.AddNewTail(true);
            if (!section)
                return E_OUTOFMEMORY;
            lstrcpynA(section->m_szName, line + 1, length - 1);
            continue;
        }
        if (!section || line[0] == '#' || line[0] == ';')
            continue;

        // Runs of "=" are one separator and leading ones are skipped; the value ends at the
        // next "=".
        const char* key = strtok(line, "=");
        if (!key)
            continue;
        const char* value = strtok(NULL, "=");
        CProfileEntry* entry = section->m_Entries.AddNewTail(true);
        if (!entry)
            return E_OUTOFMEMORY;
        lstrcpynA(entry->m_szKey, key, sizeof(entry->m_szKey));
        lstrcpynA(entry->m_szValue, value ? value : "", sizeof(entry->m_szValue));
    }
    file.Close();
    return S_OK;
}

HRESULT CProfileDoc::Save(const char* path)
{
    if (!m_bModified)
        return S_FALSE;
    if (m_Sections.GetCount() == 0)
        return E_FAIL;
    if (!path)
    {
        if (m_bReadOnly)
            return E_FAIL;
        path = m_strLoadedFrom.GetText() ? m_strLoadedFrom.GetText() : "";
    }

    CFileObject file;
    HRESULT hr = file.Open(path, CREATE_ALWAYS, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, 0, NULL);
    if (FAILED(hr))
        return hr;
    for (CNode* node = m_Sections.GetHeadNode(); node && SUCCEEDED(hr); node = node->pNext)
    {
        const CProfileSection* section = static_cast<const CProfileSection*>(node->pData);
        hr = file.WriteFormatted("[%s]\r\n", section->m_szName);
        for (CNode* entryNode = section->m_Entries.GetHeadNode(); entryNode && SUCCEEDED(hr);
             entryNode = entryNode->pNext)
        {
            const CProfileEntry* entry = static_cast<const CProfileEntry*>(entryNode->pData);
            hr = file.WriteFormatted("%s=%s\r\n", entry->m_szKey, entry->m_szValue);
        }
    }
    file.Close();
    if (SUCCEEDED(hr))
        m_bModified = FALSE;
    return hr;
}
