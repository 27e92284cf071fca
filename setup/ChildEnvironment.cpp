#include "setup/ChildEnvironment.h"
#include <new>
#include <wchar.h>
#include "base/Log.h"
#include "base/Module.h"
#include "base/ScopedHandle.h"

const char kChildTempFolder[] = "PivoraSetup_Temp";

namespace {

typedef BOOL(WINAPI* CreateEnvironmentBlockFn)(LPVOID*, HANDLE, BOOL);
typedef BOOL(WINAPI* DestroyEnvironmentBlockFn)(LPVOID);

// The longest name of a registry value, with its NUL.
const DWORD kValueNameSize = 16384;

// What Windows keeps in "Volatile Environment" of the user's own profile and session: it
// describes the user, and the installers need it as it is.
const wchar_t* const kProfileNames[] = {
    L"APPDATA", L"LOCALAPPDATA", L"USERPROFILE", L"HOMEDRIVE", L"HOMEPATH", L"HOMESHARE",
    L"LOGONSERVER", L"USERDOMAIN", L"USERDOMAIN_ROAMINGPROFILE", L"USERNAME", L"CLIENTNAME",
    L"SESSIONNAME"};

// The length of the name of an entry "NAME=value"; a name may begin with "=" (the current
// folders of the drives, "=C:=C:\...").
int NameLength(const wchar_t* entry)
{
    const wchar_t* equals = entry[0] ? wcschr(entry + 1, L'=') : NULL;
    return equals ? static_cast<int>(equals - entry) : lstrlenW(entry);
}

// Environment names compare as Windows compares them: ordinally, without regard to case.
int CompareNames(const wchar_t* first, int firstLength, const wchar_t* second, int secondLength)
{
    return CompareStringOrdinal(first, firstLength, second, secondLength, TRUE) - CSTR_EQUAL;
}

// The entry of block (entries, each with its NUL, and one more NUL) named name; null when none.
const wchar_t* FindEntry(const wchar_t* block, const wchar_t* name, int length)
{
    for (const wchar_t* entry = block; *entry; entry += lstrlenW(entry) + 1)
        if (CompareNames(entry, NameLength(entry), name, length) == 0)
            return entry;
    return NULL;
}

// Texts one after the other, each with its NUL, and one more NUL at the end: the form of an
// environment block, in which FindEntry finds a name.
class CTextList
{
public:
    CTextList() : m_pText(NULL), m_nUsed(0), m_nSize(0), m_bFailed(false) {}
    ~CTextList() { delete[] m_pText; }
    CTextList(const CTextList&) = delete;
    CTextList& operator=(const CTextList&) = delete;

    void Add(const wchar_t* text, int length)
    {
        if (m_nUsed + length + 2 > m_nSize && !Grow(m_nUsed + length + 2))
            return;
        CopyMemory(m_pText + m_nUsed, text, length * sizeof(wchar_t));
        m_nUsed += length;
        m_pText[m_nUsed++] = L'\0';
        m_pText[m_nUsed] = L'\0';
    }
    const wchar_t* Get() const { return m_pText ? m_pText : L"\0"; }
    bool IsEmpty() const { return m_nUsed == 0; }
    bool Failed() const { return m_bFailed; }
    // The texts parted by ", ", for the log.
    void Join(wchar_t* out, int size) const
    {
        out[0] = L'\0';
        for (const wchar_t* text = Get(); *text; text += lstrlenW(text) + 1)
        {
            const int used = lstrlenW(out);
            if (used + lstrlenW(text) + 3 >= size)
                break;
            if (used)
                lstrcatW(out, L", ");
            lstrcatW(out, text);
        }
    }

private:
    bool Grow(int needed)
    {
        const int size = needed > 2 * m_nSize ? needed : 2 * m_nSize;
        wchar_t* text = new (std::nothrow) wchar_t[size];
        if (!text)
        {
            m_bFailed = true;
            return false;
        }
        if (m_pText)
            CopyMemory(text, m_pText, (m_nUsed + 1) * sizeof(wchar_t));
        delete[] m_pText;
        m_pText = text;
        m_nSize = size;
        return true;
    }

    wchar_t* m_pText;
    int m_nUsed;
    int m_nSize;
    bool m_bFailed;
};

bool IsProfileName(const wchar_t* name, int length)
{
    for (const wchar_t* profileName : kProfileNames)
        if (CompareNames(name, length, profileName, lstrlenW(profileName)) == 0)
            return true;
    return false;
}

// The names of the values of the key under HKEY_CURRENT_USER into names; those of the user's
// profile left out when profileStays.
void AddValueNames(const wchar_t* key, bool profileStays, wchar_t* name, CTextList& names)
{
    CKeyHandle handle;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, handle.Receive()) !=
        ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index)
    {
        DWORD length = kValueNameSize;
        const LONG error = RegEnumValueW(handle.Get(), index, name, &length, NULL, NULL, NULL, NULL);
        if (error == ERROR_NO_MORE_ITEMS)
            return;
        if (error == ERROR_SUCCESS && length > 0 &&
            !(profileStays && IsProfileName(name, static_cast<int>(length))))
            names.Add(name, static_cast<int>(length));
    }
}

// Every name that the user's environment settings define.
bool ReadUserNames(CTextList& names)
{
    wchar_t* name = new (std::nothrow) wchar_t[kValueNameSize];
    if (!name)
        return false;
    AddValueNames(L"Environment", false, name, names);
    AddValueNames(L"Volatile Environment", true, name, names);
    DWORD session = 0;
    wchar_t key[64];
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session))
    {
        wsprintfW(key, L"Volatile Environment\\%lu", session);
        AddValueNames(key, true, name, names);
    }
    delete[] name;
    return !names.Failed();
}

// own (the run's environment) as the started programs get it, with machine (the machine's) and
// the user's names, into a new block; null without memory.
wchar_t* MakeBlock(const wchar_t* own, const wchar_t* machine, const CTextList& userNames,
                   const wchar_t* temp, CTextList& fromMachine, CTextList& leftOut)
{
    int count = 0;
    for (const wchar_t* entry = own; *entry; entry += lstrlenW(entry) + 1)
        ++count;
    const wchar_t** entries = new (std::nothrow) const wchar_t*[count + 3];
    wchar_t tempEntry[MAX_PATH + 8], tmpEntry[MAX_PATH + 8];
    if (!entries)
        return NULL;
    int used = 0;
    for (const wchar_t* entry = own; *entry; entry += lstrlenW(entry) + 1)
    {
        const int length = NameLength(entry);
        if (CompareNames(entry, length, L"TEMP", 4) == 0 ||
            CompareNames(entry, length, L"TMP", 3) == 0 ||
            CompareNames(entry, length, L"Path", 4) == 0)
            continue;
        if (!FindEntry(userNames.Get(), entry, length))
        {
            entries[used++] = entry;
            continue;
        }
        const wchar_t* machineEntry = FindEntry(machine, entry, length);
        if (machineEntry)
            entries[used++] = machineEntry;
        (machineEntry ? fromMachine : leftOut).Add(entry, length);
    }
    if (const wchar_t* path = FindEntry(machine, L"Path", 4))
        entries[used++] = path;
    wsprintfW(tempEntry, L"TEMP=%s", temp);
    wsprintfW(tmpEntry, L"TMP=%s", temp);
    entries[used++] = tempEntry;
    entries[used++] = tmpEntry;

    // Sorted by name, as Windows keeps an environment block.
    for (int i = 1; i < used; ++i)
    {
        const wchar_t* entry = entries[i];
        int j = i;
        for (; j > 0 && CompareNames(entries[j - 1], NameLength(entries[j - 1]), entry,
                                     NameLength(entry)) > 0; --j)
            entries[j] = entries[j - 1];
        entries[j] = entry;
    }
    int size = 1;
    for (int i = 0; i < used; ++i)
        size += lstrlenW(entries[i]) + 1;
    wchar_t* block = new (std::nothrow) wchar_t[size];
    if (block)
    {
        wchar_t* out = block;
        for (int i = 0; i < used; ++i)
        {
            lstrcpyW(out, entries[i]);
            out += lstrlenW(out) + 1;
        }
        *out = L'\0';
    }
    delete[] entries;
    return block;
}

} // namespace

bool CChildEnvironment::Build(const char* workDir)
{
    delete[] m_pBlock;
    m_pBlock = NULL;
    char temp[MAX_PATH];
    wchar_t wideTemp[MAX_PATH];
    if (lstrlenA(workDir) + lstrlenA(kChildTempFolder) >= MAX_PATH)
        return false;
    lstrcpyA(temp, workDir);
    lstrcatA(temp, kChildTempFolder);
    // Made with no descriptor of its own: it takes the work directory's, which is inherited.
    if (!CreateDirectoryA(temp, NULL))
    {
        LogFailure("CreateDirectoryA", GetLastError(), "child programs: %s not made", temp);
        return false;
    }
    if (!MultiByteToWideChar(CP_ACP, 0, temp, -1, wideTemp, MAX_PATH))
        return false;

    const CreateEnvironmentBlockFn createBlock =
        GetSystemFunction<CreateEnvironmentBlockFn>("userenv.dll", "CreateEnvironmentBlock");
    const DestroyEnvironmentBlockFn destroyBlock =
        GetSystemFunction<DestroyEnvironmentBlockFn>("userenv.dll", "DestroyEnvironmentBlock");
    // Without a token: the machine's variables alone, expanded, none of any user's.
    void* machine = NULL;
    if (!createBlock || !destroyBlock || !createBlock(&machine, NULL, FALSE))
    {
        LogFailure("CreateEnvironmentBlock", createBlock ? GetLastError() : ERROR_PROC_NOT_FOUND,
                   "child programs: the machine's environment is unknown");
        return false;
    }
    CTextList userNames, fromMachine, leftOut;
    wchar_t* own = GetEnvironmentStringsW();
    if (own && ReadUserNames(userNames))
        m_pBlock = MakeBlock(own, static_cast<const wchar_t*>(machine), userNames, wideTemp,
                             fromMachine, leftOut);
    if (own)
        FreeEnvironmentStringsW(own);
    destroyBlock(machine);
    if (!m_pBlock)
    {
        LogEvent("child programs: no environment of their own (no memory)");
        return false;
    }
    LogEvent("child programs: TEMP and TMP %s, Path the machine's", temp);
    wchar_t names[1024];
    if (!fromMachine.IsEmpty())
    {
        fromMachine.Join(names, sizeof(names) / sizeof(names[0]));
        LogWide("child programs: the machine's value, not the user's, for ", names);
    }
    if (!leftOut.IsEmpty())
    {
        leftOut.Join(names, sizeof(names) / sizeof(names[0]));
        LogWide("child programs: left out, set by the user alone: ", names);
    }
    return true;
}
