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

// The longest variable name that is looked for in the user's settings, with its NUL.
const int kNameSize = 256;

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

bool IsProfileName(const wchar_t* name, int length)
{
    for (const wchar_t* profileName : kProfileNames)
        if (CompareNames(name, length, profileName, lstrlenW(profileName)) == 0)
            return true;
    return false;
}

// The keys of the user's environment settings under HKEY_CURRENT_USER: "Environment", and
// "Volatile Environment" with the key of the run's session below it, where what describes the
// user's own profile stays as it is.
struct CUserSettings
{
    CKeyHandle m_hEnvironment, m_hVolatile, m_hSession;

    CUserSettings()
    {
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_QUERY_VALUE, m_hEnvironment.Receive());
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Volatile Environment", 0, KEY_QUERY_VALUE,
                      m_hVolatile.Receive());
        DWORD session = 0;
        wchar_t key[64];
        if (ProcessIdToSessionId(GetCurrentProcessId(), &session))
        {
            wsprintfW(key, L"Volatile Environment\\%lu", session);
            RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, m_hSession.Receive());
        }
    }
    // True when they define name (length units), which is copied into buffer (kNameSize
    // units, cut there); a name too long to ask for counts as theirs.
    bool Define(const wchar_t* name, int length, wchar_t* buffer) const
    {
        lstrcpynW(buffer, name, length < kNameSize ? length + 1 : kNameSize);
        if (length >= kNameSize)
            return true;
        const auto has = [buffer](const CKeyHandle& key) {
            return key.IsSet() &&
                   RegQueryValueExW(key.Get(), buffer, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
        };
        return has(m_hEnvironment) ||
               (!IsProfileName(name, length) && (has(m_hVolatile) || has(m_hSession)));
    }
};

// own (the run's environment) as the started programs get it, with machine (the machine's), into
// a new block; null without memory. Each variable taken from the machine or left out is logged.
wchar_t* MakeBlock(const wchar_t* own, const wchar_t* machine, const wchar_t* temp)
{
    int count = 0;
    for (const wchar_t* entry = own; *entry; entry += lstrlenW(entry) + 1)
        ++count;
    const wchar_t** entries = new (std::nothrow) const wchar_t*[count + 3];
    if (!entries)
        return NULL;
    const CUserSettings user;
    wchar_t name[kNameSize], tempEntry[MAX_PATH + 8], tmpEntry[MAX_PATH + 8];
    int used = 0;
    for (const wchar_t* entry = own; *entry; entry += lstrlenW(entry) + 1)
    {
        const int length = NameLength(entry);
        if (CompareNames(entry, length, L"TEMP", 4) == 0 ||
            CompareNames(entry, length, L"TMP", 3) == 0 ||
            CompareNames(entry, length, L"Path", 4) == 0)
            continue;
        if (!user.Define(entry, length, name))
        {
            entries[used++] = entry;
            continue;
        }
        const wchar_t* machineEntry = FindEntry(machine, entry, length);
        if (machineEntry)
            entries[used++] = machineEntry;
        LogWide(machineEntry ? "child programs: the machine's value, not the user's, for "
                             : "child programs: left out, set by the user alone: ",
                name);
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
    wchar_t* own = GetEnvironmentStringsW();
    if (own)
    {
        m_pBlock = MakeBlock(own, static_cast<const wchar_t*>(machine), wideTemp);
        FreeEnvironmentStringsW(own);
    }
    destroyBlock(machine);
    if (!m_pBlock)
    {
        LogEvent("child programs: no environment of their own (no memory)");
        return false;
    }
    LogEvent("child programs: TEMP and TMP %s, Path the machine's", temp);
    return true;
}
