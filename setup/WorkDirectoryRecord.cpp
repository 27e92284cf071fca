#include "setup/WorkDirectoryRecord.h"
#include <wchar.h>
#include "base/FinalPath.h"
#include "base/Log.h"
#include "base/ScopedHandle.h"
#include "setup/Hardening.h"
#include "system/HeldFolder.h"
#include "system/Registry.h"

const wchar_t kWorkDirectoryRecord[] = L"SetupWorkDirectory";

namespace {

// "XXXXXXXX XXXXXXXXXXXXXXXX " before the path.
const int kPathOffset = 8 + 1 + 16 + 1;
const int kRecordLength = kPathOffset + MAX_PATH + 8;

bool ParseHex(const wchar_t* text, int digits, ULONGLONG& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i)
    {
        const wchar_t c = text[i];
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<ULONGLONG>(digit);
    }
    return true;
}

// The record as it stands, into text (kRecordLength characters), empty when it is not a text
// that fits; false when there is none.
bool ReadRecord(wchar_t* text)
{
    CKeyHandle key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PIVORA_KEY, 0, KEY_QUERY_VALUE | kRegistryView,
                      key.Receive()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = (kRecordLength - 1) * sizeof(wchar_t);
    const LONG error = RegQueryValueExW(key.Get(), kWorkDirectoryRecord, NULL, &type,
                                        reinterpret_cast<BYTE*>(text), &size);
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA)
        return false;
    text[error == ERROR_SUCCESS && type == REG_SZ ? size / sizeof(wchar_t) : 0] = L'\0';
    return true;
}

void DeleteRecord()
{
    CKeyHandle key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, PIVORA_KEY, 0, KEY_SET_VALUE | kRegistryView,
                               key.Receive());
    if (error == ERROR_SUCCESS)
        error = RegDeleteValueW(key.Get(), kWorkDirectoryRecord);
    if (error != ERROR_SUCCESS)
        LogFailure("RegDeleteValueW", error, "work directory record: not deleted");
    else
        LogEvent("work directory record: deleted");
}

// The identity and the path of a record; false when it is not one the run wrote.
bool ParseRecord(const wchar_t* text, FileIdentity& identity, const wchar_t*& path)
{
    ULONGLONG volume = 0;
    if (lstrlenW(text) <= kPathOffset + 3 || !ParseHex(text, 8, volume) || text[8] != L' ' ||
        !ParseHex(text + 9, 16, identity.id) || text[kPathOffset - 1] != L' ')
        return false;
    identity.dwVolume = static_cast<DWORD>(volume);
    path = text + kPathOffset;
    return path[1] == L':' && path[2] == L'\\';
}

// True when name (the last level of a recorded path) is one that a run gives its work directory:
// "exp", one to four upper-case hex digits, ".tmp"; or "exp.tmp".
bool IsWorkDirectoryName(const wchar_t* name)
{
    if (wcsncmp(name, L"exp", 3) != 0)
        return false;
    int digits = 0;
    while (digits < 5 && ((name[3 + digits] >= L'0' && name[3 + digits] <= L'9') ||
                          (name[3 + digits] >= L'A' && name[3 + digits] <= L'F')))
        ++digits;
    return digits <= 4 && wcscmp(name + 3 + digits, L".tmp") == 0;
}

// True when the directory carries the security that an elevated run gives its work directory, on
// a volume that keeps access lists. parent: the folder above it, held.
bool HasWorkDirectorySecurity(HANDLE directory, HANDLE parent)
{
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(directory, NULL, 0, NULL, NULL, &flags, NULL, 0) ||
        !(flags & FILE_PERSISTENT_ACLS))
    {
        LogEvent("earlier work directory: its volume keeps no access lists");
        return false;
    }
    CLocalMemory runs(CreateAdminOnlyDescriptor());
    if (!runs.IsSet() || !HasSecurityOfNewFolder(directory, parent, runs.Get(), "earlier work directory"))
    {
        LogEvent("earlier work directory: not the owner and access of a work directory");
        return false;
    }
    return true;
}

// Removes the directory that the record names, when it is still that directory and one that a
// run made. What was found and done goes to the log. False when the record must stay: the
// directory is still held by a run of another session, whose own end removes it.
bool RemoveRecorded(const FileIdentity& recorded, const wchar_t* path)
{
    const wchar_t* name = wcsrchr(path, L'\\') + 1;
    if (!IsWorkDirectoryName(name))
    {
        LogEvent("earlier work directory: no name of a work directory; left alone");
        return true;
    }
    CKernelHandle levels[kMaxPathLevels];
    if (!HoldFoldersAbove(path, levels, "earlier work directory"))
    {
        LogEvent("earlier work directory: left alone");
        return true;
    }
    // The name itself is opened as what it is, a link never followed; the hold refuses delete
    // sharing, so a directory that a run in another session still holds cannot be had here.
    CKernelHandle directory(CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE |
                                        READ_CONTROL | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        NULL));
    if (!directory.IsSet())
    {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION)
        {
            LogEvent("earlier work directory: held by a run that goes on; left to it");
            return false;
        }
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            LogEvent("earlier work directory: gone already");
        else
            LogFailure("CreateFileW", error, "earlier work directory: not opened; left alone");
        return true;
    }
    FileIdentity found = {0, 0};
    if (!GetFileIdentity(directory.Get(), found) || !(found == recorded))
    {
        LogEvent("earlier work directory: the name now belongs to another (volume %08lX, file ID "
                 "%016I64X); left alone", found.dwVolume, found.id);
        return true;
    }
    // The folders held are the ones above it only when the path is the directory's own, not one
    // through a link or a short name.
    wchar_t final[MAX_PATH + 8];
    if (!GetFinalPath(directory.Get(), final, MAX_PATH + 8) || wcscmp(final, path) != 0)
    {
        LogEvent("earlier work directory: not reached by its own path; left alone");
        return true;
    }
    int parent = 0;
    while (parent < kMaxPathLevels && levels[parent].IsSet())
        ++parent;
    if (parent == 0 || !HasWorkDirectorySecurity(directory.Get(), levels[parent - 1].Get()))
    {
        LogEvent("earlier work directory: left alone");
        return true;
    }
    if (!DeleteFolderTree(directory.Get(), "work directory"))
    {
        LogFailure("SetFileInformationByHandle", GetLastError(), "earlier work directory: stays");
        return true;
    }
    directory.Reset();
    LogEvent("earlier work directory: removed");
    return true;
}

} // namespace

bool RecordWorkDirectory(HANDLE directory, const wchar_t* finalPath)
{
    FileIdentity identity;
    if (!IsProcessElevated())
        return false;
    if (!GetFileIdentity(directory, identity))
    {
        LogFailure("GetFileInformationByHandle", GetLastError(), "work directory: not recorded");
        return false;
    }
    wchar_t text[kRecordLength];
    wsprintfW(text, L"%08lX %08lX%08lX %s", identity.dwVolume,
              static_cast<DWORD>(identity.id >> 32), static_cast<DWORD>(identity.id), finalPath);
    CKeyHandle key;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, PIVORA_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE | kRegistryView, NULL, key.Receive(), NULL);
    if (error == ERROR_SUCCESS)
        error = RegSetValueExW(key.Get(), kWorkDirectoryRecord, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(text),
                               (lstrlenW(text) + 1) * sizeof(wchar_t));
    if (error != ERROR_SUCCESS)
        LogFailure("RegSetValueExW", error, "work directory: not recorded");
    else
        LogWide("work directory recorded: ", text);
    return error == ERROR_SUCCESS;
}

void ForgetWorkDirectory(const wchar_t* finalPath)
{
    wchar_t text[kRecordLength];
    FileIdentity identity;
    const wchar_t* path = NULL;
    if (ReadRecord(text) && ParseRecord(text, identity, path) && wcscmp(path, finalPath) == 0)
        DeleteRecord();
}

void RemoveRecordedWorkDirectory()
{
    wchar_t text[kRecordLength];
    if (!IsProcessElevated() || !ReadRecord(text))
        return;
    LogWide("earlier work directory recorded: ", text);
    FileIdentity identity;
    const wchar_t* path = NULL;
    if (!ParseRecord(text, identity, path))
        LogEvent("earlier work directory: the record names none");
    else if (!RemoveRecorded(identity, path))
        return;
    DeleteRecord();
}
