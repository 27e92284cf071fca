// The ends of the work directory that a real system rarely shows, through the calls the run
// takes from the system: no temporary folder, no temporary name, a name taken before the run made it, a directory gone
// after it was made; the final path and the removal; the longest temporary folder that leaves room; and who may enter an elevated run's work
// directory, read back from the directory made. Everything else of it is seen from outside in
// the end-to-end runs.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <string.h>
#include "common/TestSupport.h"
#include "setup/Hardening.h"
#include "setup/WorkDirectoryRecord.h"
#include "setup/WorkDirectory.h"
#include "ui/Folder.h"

namespace {

std::wstring g_strTempPath;
DWORD g_nTempPathResult;
DWORD WINAPI FakeGetTempPath(DWORD size, LPWSTR buffer)
{
    lstrcpynW(buffer, g_strTempPath.c_str(), size);
    return g_nTempPathResult ? g_nTempPathResult : lstrlenW(buffer);
}
DWORD NumberABCD() { return 0xABCD; }
DWORD NumberFFFF() { return 0xFFFF; }
bool NeverExists(const char*) { return false; }
// What the final path of the held directory is said to be: another directory, or the real one
// with its parent's name changed as Windows stores but Win32 does not read it.
std::wstring g_strFinalPath;
DWORD WINAPI FakeFinalPath(HANDLE, LPWSTR buffer, DWORD size, DWORD)
{
    lstrcpynW(buffer, g_strFinalPath.c_str(), size);
    return lstrlenW(buffer);
}
// A volume that keeps no access lists; and somebody puts a file into the directory meanwhile.
BOOL WINAPI NoAccessLists(HANDLE volume, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR name, DWORD size)
{
    wchar_t path[MAX_PATH + 8];
    if (GetFinalPathNameByHandleW(volume, path, MAX_PATH + 8, 0))
        CloseHandle(CreateFileW((std::wstring(path) + L"\\planted.txt").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL));
    const BOOL result = GetVolumeInformationByHandleW(volume, NULL, 0, NULL, NULL, flags, name, size);
    *flags &= ~FILE_PERSISTENT_ACLS;
    return result;
}

WorkDirectoryCalls Calls()
{
    WorkDirectoryCalls calls = SystemWorkDirectoryCalls();
    calls.pFirstNumber = NumberABCD;
    return calls;
}

std::wstring Wide(const std::string& ansi)
{
    wchar_t wide[MAX_PATH];
    return MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, MAX_PATH) ? wide : L"";
}

// The folder that GetTempPathW names, as the run takes it: a failed call or one that does not
// fit in MAX_PATH gives the drive root; a user name that the ANSI code page lacks (Hangul, in code page 932
// and 1252 alike) gives the short form of the same folder, never a path with "?" in it; a
// folder that has no short form either (here: one that does not exist) gives the drive root.
TEST(WorkDirectory, TemporaryFolderAsTheCodePageNamesIt)
{
    const std::string base = MakeTempDir("tf");
    const std::wstring user = Wide(base) + L"\uD55C\uAE00 Kim\\";
    ASSERT_TRUE(CreateDirectoryW(user.c_str(), NULL));
    WorkDirectoryCalls calls = Calls();
    calls.pGetTempPathW = FakeGetTempPath;
    const struct { std::wstring path; DWORD result; const char* folder; } cases[] = {
        {L"D:\\Temp\\", 0, "D:\\Temp\\"}, {L"D:\\Temp\\", MAX_PATH - 1, "D:\\Temp\\"}, {L"D:\\Temp\\", MAX_PATH, "C:\\"},
        {L"D:\\Temp\\", MAX_PATH + 40, "C:\\"}, {L"", 0, "C:\\"},
        {L"D:\\\uD55C\uAE00\\", 0, "C:\\"}, {user, 0, NULL}};
    for (const auto& c : cases)
    {
        g_strTempPath = c.path;
        g_nTempPathResult = c.result;
        char folder[MAX_PATH];
        GetTemporaryFolder(folder, calls);
        if (c.folder)
        {
            EXPECT_STREQ(c.folder, folder) << "GetTempPathW gave " << c.result;
            continue;
        }
        wchar_t longForm[MAX_PATH] = L"";
        GetLongPathNameW(Wide(folder).c_str(), longForm, MAX_PATH);
        EXPECT_TRUE(strchr(folder, '?') == NULL && std::wstring(longForm) == user) << folder;
    }
    RemoveTree(base);
    // After the temporary folder, the work directory ("exp", four hex digits, ".tmp"), its
    // backslash and the longest name written there ("PivoraSetup_IS.bin") must fit in MAX_PATH
    // with the NUL: a folder of 229 characters, its backslash included, still gets its work
    // directory; one of 230 does not.
    const std::string root = MakeTempDir("wdl");
    for (size_t length : {229, 230})
    {
        const std::string folder = root + std::string(length - root.size() - 1, 'f') + "\\";
        CWorkDirectory work;
        EXPECT_TRUE(CreateDirectoryA(folder.c_str(), NULL) && work.Create(folder.c_str()) == (length == 229))
            << "temporary folder of " << folder.size() << " characters";
    }
    RemoveTree(root);
}

// The directory is named by the run and made in the same step: a name that is taken (here by
// the user, with a program in it) is passed by for the next number, after FFFF the first; what is
// there stays as it was. A directory gone after it was made is no work directory. Nothing of the
// run's own is left behind.
TEST(WorkDirectory, NamesTakenAndGoneDirectory)
{
    const std::string temp = MakeTempDir("wd");
    ASSERT_TRUE(CreateDirectoryA((temp + "expFFFF.tmp").c_str(), NULL) &&
                WriteFileBytes(temp + "expFFFF.tmp\\setup.exe", "planted"));
    WorkDirectoryCalls calls = Calls();
    calls.pFirstNumber = NumberFFFF;
    {
        CWorkDirectory work(calls);
        ASSERT_TRUE(work.Create(temp.c_str()));
        ASSERT_TRUE(work.Check());
        EXPECT_EQ(temp + "exp0.tmp\\", work.GetPath());
        // The hold keeps it from being renamed or deleted, not from being listed.
        WIN32_FIND_DATAA found;
        CFindHandle listing(FindFirstFileA((temp + "exp0.tmp\\*").c_str(), &found));
        EXPECT_TRUE(listing.IsSet()) << GetLastError();
    }
    EXPECT_EQ(std::vector<std::string>{"expFFFF.tmp"}, ListFolder(temp)) << "removed when its owner goes";
    EXPECT_EQ(std::vector<std::string>{"setup.exe"}, ListFolder(temp + "expFFFF.tmp\\"));
    calls.pFolderExists = NeverExists;
    {
        CWorkDirectory work(calls);
        ASSERT_TRUE(work.Create(temp.c_str()));
        EXPECT_FALSE(work.Check());
    }
    EXPECT_EQ(std::vector<std::string>{"expFFFF.tmp"}, ListFolder(temp));
    RemoveTree(temp);
}

// The run works only where that is safe, and leaves nothing where it is not: a final path with a
// level that Win32 reads without its trailing dot or blank; a final path that leads to another
// directory (here one that the user made, with a program in it) than the one made; a volume that
// keeps no access lists, while elevated (and a refused directory that cannot go is left to the
// next run by its record).
TEST(WorkDirectory, RefusedWhereTheRunIsNotSafe)
{
    const std::string temp = MakeTempDir("ws");
    const std::string other = temp + "other\\";
    ASSERT_TRUE(CreateDirectoryA((temp + "user").c_str(), NULL) && CreateDirectoryA(other.c_str(), NULL) &&
                CreateDirectoryA((other + "expABCD.tmp").c_str(), NULL) &&
                WriteFileBytes(other + "expABCD.tmp\\setup.exe", "planted"));
    const std::wstring user = Wide(temp) + L"user";
    WorkDirectoryCalls calls = Calls();
    calls.folder.pGetFinalPathNameByHandleW = FakeFinalPath;
    for (const std::wstring& final : {user + L".\\expABCD.tmp", user + L" \\expABCD.tmp",
                                      Wide(other) + L"expABCD.tmp"})
    {
        g_strFinalPath = final;
        CWorkDirectory work(calls);
        EXPECT_FALSE(work.Create((temp + "user").c_str())) << final.size();
        EXPECT_TRUE(ListFolder(temp + "user\\").empty()) << final.size();
    }
    EXPECT_EQ(std::vector<std::string>{"setup.exe"}, ListFolder(other + "expABCD.tmp\\"));
    ASSERT_TRUE(IsProcessElevated());
    calls = Calls();
    calls.folder.pGetVolumeInformationByHandleW = NoAccessLists;
    {
        CWorkDirectory work(calls);
        EXPECT_FALSE(work.Create((temp + "user").c_str()));
    }
    // The file keeps the refused directory from going: it is recorded, and the next run takes it.
    EXPECT_EQ(std::vector<std::string>{"planted.txt"}, ListFolder(temp + "user\\expABCD.tmp\\"));
    RemoveRecordedWorkDirectory();
    EXPECT_TRUE(ListFolder(temp + "user\\").empty());
    RemoveTree(temp);
}

// From the hold on, the directory goes by the path that Windows reports for it: a temporary
// folder given in its short form and in lower case is the long one in its true case. The removal
// takes everything the installer may leave there (a read-only file, a tree of folders deeper
// than MAX_PATH) and then the held directory.
TEST(WorkDirectory, FinalPathAndRemoval)
{
    const std::string base = MakeTempDir("fp");
    const std::string folder = base + "Temporary Files Of The User";
    char given[MAX_PATH] = "";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL) && GetShortPathNameA(folder.c_str(), given, MAX_PATH));
    ASSERT_NE(folder, given) << "no short form";
    CharLowerA(given);
    CWorkDirectory work;
    ASSERT_TRUE(work.Create((given + std::string("\\")).c_str()));
    ASSERT_TRUE(work.Check());
    const std::string path = work.GetPath();
    EXPECT_EQ(folder + "\\exp", path.substr(0, folder.size() + 4));

    ASSERT_TRUE(WriteFileBytes(path + "kept.txt", "x") &&
                SetFileAttributesA((path + "kept.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring deep = L"\\\\?\\" + Wide(path);
    while (deep.size() < 300)
        ASSERT_TRUE(CreateDirectoryW((deep += L"level-of-a-deep-tree\\").c_str(), NULL));
    HANDLE last = CreateFileW((deep + L"last.txt").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_TRUE(last != INVALID_HANDLE_VALUE && CloseHandle(last));
    work.Remove();
    EXPECT_EQ(std::vector<std::string>(), ListFolder(folder + "\\"));
    RemoveTree(base);
}

// A final path longer than MAX_PATH (the work directory in a folder of a long name) whose short
// form still fits: the run works there and removes it.
TEST(WorkDirectory, FinalPathLongerThanMaxPath)
{
    const std::string base = MakeTempDir("fl");
    const std::string longFolder = base + std::string(262 - base.size() - 12, 'L');
    char given[MAX_PATH] = "";
    ASSERT_TRUE(CreateDirectoryA(longFolder.c_str(), NULL) && GetShortPathNameA(longFolder.c_str(), given, MAX_PATH));
    // Wine's 32-bit GetFinalPathNameByHandleW reads the name into a buffer of MAX_PATH characters
    // and fails with ERROR_MORE_DATA beyond it, where Windows reports the path whole.
    const std::string probe = given + std::string("\\probe12.tmp");
    wchar_t final[MAX_PATH + 8];
    CKernelHandle folder(CreateDirectoryA(probe.c_str(), NULL)
                             ? CreateFileA(probe.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL)
                             : NULL);
    const bool reported = folder.IsSet() && GetFinalPathNameByHandleW(folder.Get(), final, MAX_PATH + 8, 0) != 0;
    const DWORD error = GetLastError();
    folder.Reset();
    RemoveDirectoryA(probe.c_str());
    if (!reported)
        GTEST_SKIP() << "this system reports no final path of 262 characters (error " << error << ")";
    CWorkDirectory longWork(Calls());
    ASSERT_TRUE(longWork.Create(given) && longWork.Check());
    EXPECT_EQ(given + std::string("\\expABCD.tmp\\"), longWork.GetPath());
    longWork.Remove();
    EXPECT_EQ(std::vector<std::string>(), ListFolder(longFolder + "\\"));
    RemoveTree(base);
}

// A test process under Wine is elevated (Wine gives every process the full administrator token),
// as the run always is. Windows keeps the descriptor the directory was made with: owned by
// Administrators (the user who made it, as its owner, could take the access list back),
// Administrators and SYSTEM only, and nothing of the temporary folder's list flows in. Wine keeps
// no access lists on files: it folds the list into the Unix permissions and reads back the Unix
// owner, the user, with SYSTEM and that user; a directory made with the default security would
// also let Everyone read it.
TEST(WorkDirectorySecurity, AdministratorsAndSystemOnly)
{
    ASSERT_TRUE(IsProcessElevated()) << "only an elevated run gets the admin-only directory";
    const std::string temp = MakeTempDir("wds");
    CWorkDirectory work;
    ASSERT_TRUE(work.Create(temp.c_str()));
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ASSERT_EQ(ERROR_SUCCESS, (int)GetNamedSecurityInfoA(work.GetPath(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION |
                                 DACL_SECURITY_INFORMATION, &owner, NULL, &dacl, NULL, &descriptor));
    CLocalMemory held(descriptor);
    const bool kept = IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(!kept || (control & SE_DACL_PROTECTED)) << "the temp folder's access list flows in";
    ASSERT_TRUE(dacl != NULL) << "a null DACL grants everyone everything";
    ASSERT_EQ(2u, (unsigned)dacl->AceCount) << (kept ? "" : "Wine: ") << "not Administrators (or the owner) and SYSTEM alone";
    for (DWORD i = 0; i < dacl->AceCount; ++i)
    {
        void* ace = NULL;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        ACCESS_ALLOWED_ACE* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const BOOL who = kept ? IsWellKnownSid(&a->SidStart, i ? WinLocalSystemSid : WinBuiltinAdministratorsSid)
                              : i ? EqualSid(&a->SidStart, owner) : IsWellKnownSid(&a->SidStart, WinLocalSystemSid);
        EXPECT_TRUE(who && a->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && a->Mask == FILE_ALL_ACCESS &&
                    a->Header.AceFlags == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
            << i << ": type " << int(a->Header.AceType) << ", flags " << int(a->Header.AceFlags) << ", mask " << a->Mask;
    }
    work.Remove();
    RemoveTree(temp);
}

} // namespace
