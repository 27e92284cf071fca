#include "setup/StaleWorkDirectory.h"
#include <aclapi.h>
#include <wchar.h>
#include "base/Log.h"
#include "base/NtFile.h"
#include "base/ScopedHandle.h"
#include "setup/Hardening.h"
#include "setup/WorkDirectory.h"
#include "system/Registry.h"

const wchar_t kWorkDirectoryRecord[] = L"SetupWorkDirectory";

namespace {

// "XXXXXXXX XXXXXXXXXXXXXXXX " before the path.
const int kPathOffset = 8 + 1 + 16 + 1;
const int kRecordLength = kPathOffset + MAX_PATH + 8;
// Names tried for the directory that a recorded one is compared with.
const DWORD kReferenceTries = 16;

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

// True when both descriptors name the same owner and hold the same DACL, its protection from
// inheritance included.
bool SameOwnerAndAccess(PSECURITY_DESCRIPTOR first, PSECURITY_DESCRIPTOR second)
{
    PSID owners[2] = {NULL, NULL};
    PACL dacls[2] = {NULL, NULL};
    SECURITY_DESCRIPTOR_CONTROL controls[2] = {0, 0};
    const PSECURITY_DESCRIPTOR descriptors[2] = {first, second};
    for (int i = 0; i < 2; ++i)
    {
        BOOL defaulted = FALSE, present = FALSE;
        DWORD revision = 0;
        if (!GetSecurityDescriptorOwner(descriptors[i], &owners[i], &defaulted) || !owners[i] ||
            !GetSecurityDescriptorDacl(descriptors[i], &present, &dacls[i], &defaulted) ||
            !present || !dacls[i] ||
            !GetSecurityDescriptorControl(descriptors[i], &controls[i], &revision))
            return false;
    }
    if (!EqualSid(owners[0], owners[1]) || ((controls[0] ^ controls[1]) & SE_DACL_PROTECTED) ||
        dacls[0]->AceCount != dacls[1]->AceCount)
        return false;
    for (WORD i = 0; i < dacls[0]->AceCount; ++i)
    {
        ACE_HEADER* aces[2] = {NULL, NULL};
        if (!GetAce(dacls[0], i, reinterpret_cast<void**>(&aces[0])) ||
            !GetAce(dacls[1], i, reinterpret_cast<void**>(&aces[1])) ||
            aces[0]->AceSize != aces[1]->AceSize || memcmp(aces[0], aces[1], aces[0]->AceSize) != 0)
            return false;
    }
    return true;
}

// The owner and DACL of the directory of the handle (read-control access); free it with
// LocalFree. Null when they cannot be read.
PSECURITY_DESCRIPTOR ReadOwnerAndAccess(HANDLE handle)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    const DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        NULL, NULL, NULL, NULL, &descriptor);
    if (error != ERROR_SUCCESS)
    {
        LogFailure("GetSecurityInfo", error, "earlier work directory: its security");
        return NULL;
    }
    return descriptor;
}

// True when the directory carries the security that an elevated run gives its work directory.
// That is what the volume keeps of the run's descriptor: NTFS keeps it as given (owned by
// Administrators, the protected admin-only DACL), where a system that keeps less reads less back
// for every directory (Wine keeps no descriptor and reads back the Unix owner and mode). So the
// directory is compared with one made with that descriptor here and now, in the same folder,
// which goes again as its handle closes. A folder that the user made, or that another program
// made with access lists of its own, never compares equal.
bool HasWorkDirectorySecurity(HANDLE directory, HANDLE folder)
{
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(directory, NULL, 0, NULL, NULL, &flags, NULL, 0) ||
        !(flags & FILE_PERSISTENT_ACLS))
    {
        LogEvent("earlier work directory: its volume keeps no access lists");
        return false;
    }
    CLocalMemory runs(CreateAdminOnlyDescriptor());
    CKernelHandle reference;
    DWORD error = ERROR_INVALID_SECURITY_DESCR;
    for (DWORD number = GetTickCount(), tries = 0; runs.IsSet() && tries < kReferenceTries;
         ++number, ++tries)
    {
        wchar_t name[32];
        const int length = wsprintfW(name, L"PivoraSetup-%08lX.tmp", number);
        error = OpenNative(folder, name, length, DELETE | READ_CONTROL, 0, kNtFileCreate,
                           kNtDirectoryFile | kNtDeleteOnClose, runs.Get(), reference);
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    if (error != ERROR_SUCCESS)
    {
        LogFailure("NtCreateFile", error, "earlier work directory: no directory to compare with");
        return false;
    }
    CLocalMemory expected(ReadOwnerAndAccess(reference.Get()));
    CLocalMemory found(ReadOwnerAndAccess(directory));
    if (!expected.IsSet() || !found.IsSet() || !SameOwnerAndAccess(expected.Get(), found.Get()))
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
    const DWORD size = sizeof(final) / sizeof(final[0]);
    const DWORD length = GetFinalPathNameByHandleW(directory.Get(), final, size,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const wchar_t* held = length > 4 && final[0] == L'\\' && final[1] == L'\\' ? final + 4 : final;
    if (length == 0 || length >= size || wcscmp(held, path) != 0)
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
    if (!DeleteDirectoryTree(directory.Get()))
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
