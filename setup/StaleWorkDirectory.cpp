#include "setup/StaleWorkDirectory.h"
#include <wchar.h>
#include "base/Log.h"
#include "base/ScopedHandle.h"
#include "setup/Hardening.h"
#include "setup/WorkDirectory.h"
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

// Removes the directory that the record names, when it is still that directory. What was found
// and done goes to the log.
void RemoveRecorded(const FileIdentity& recorded, const wchar_t* path)
{
    CKernelHandle levels[kMaxPathLevels];
    if (!HoldFoldersAbove(path, levels, "earlier work directory"))
    {
        LogEvent("earlier work directory: left alone");
        return;
    }
    // The name itself is opened as what it is, a link never followed; the hold refuses delete
    // sharing, so a directory that a run in another session still holds cannot be had here.
    CKernelHandle directory(CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE |
                                        SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS |
                                        FILE_FLAG_OPEN_REPARSE_POINT, NULL));
    if (!directory.IsSet())
    {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            LogEvent("earlier work directory: gone already");
        else
            LogFailure("CreateFileW", error, "earlier work directory: not opened; left alone");
        return;
    }
    FileIdentity found = {0, 0};
    if (!GetFileIdentity(directory.Get(), found) || !(found == recorded))
    {
        LogEvent("earlier work directory: the name now belongs to another (volume %08lX, file ID "
                 "%016I64X); left alone", found.dwVolume, found.id);
        return;
    }
    // The walk below it goes by this path: it must be the directory's own, not one through a
    // link or a short name.
    wchar_t final[MAX_PATH + 8];
    const DWORD size = sizeof(final) / sizeof(final[0]);
    const DWORD length = GetFinalPathNameByHandleW(directory.Get(), final, size,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const wchar_t* held = length > 4 && final[0] == L'\\' && final[1] == L'\\' ? final + 4 : final;
    if (length == 0 || length >= size || wcscmp(held, path) != 0)
    {
        LogEvent("earlier work directory: not reached by its own path; left alone");
        return;
    }
    if (!DeleteDirectoryTree(directory.Get(), path))
    {
        LogFailure("SetFileInformationByHandle", GetLastError(), "earlier work directory: stays");
        return;
    }
    directory.Reset();
    LogEvent("earlier work directory: removed");
}

} // namespace

void RecordWorkDirectory(HANDLE directory, const wchar_t* finalPath)
{
    FileIdentity identity;
    if (!IsProcessElevated())
        return;
    if (!GetFileIdentity(directory, identity))
    {
        LogFailure("GetFileInformationByHandle", GetLastError(), "work directory: not recorded");
        return;
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
    if (ParseRecord(text, identity, path))
        RemoveRecorded(identity, path);
    else
        LogEvent("earlier work directory: the record names none");
    DeleteRecord();
}
