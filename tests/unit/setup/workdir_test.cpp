// The ends of the work directory that a real system rarely shows, through the calls the run
// takes from the system: no temporary folder, no temporary name, a directory gone after it was
// made; the longest temporary folder that leaves room; and who may enter an elevated run's work
// directory, read back from the directory made. Everything else of it is seen from outside in
// the end-to-end runs.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <string.h>
#include "common/TestSupport.h"
#include "setup/Hardening.h"
#include "setup/WorkDirectory.h"
#include "ui/Folder.h"

namespace {

DWORD g_nTempPathResult;
DWORD WINAPI FakeGetTempPath(DWORD size, LPSTR buffer)
{
    lstrcpynA(buffer, "D:\\Temp\\", size);
    return g_nTempPathResult;
}
UINT WINAPI NoTempFileName(LPCSTR, LPCSTR, UINT, LPSTR) { return 0; }
bool NeverExists(const char*) { return false; }

// GetTempPathA's answer when it fits in MAX_PATH (its length, without the NUL), else the drive
// root. After the temporary folder, the work directory ("exp", four hex digits, ".tmp"), its
// backslash and the longest name written there ("PivoraSetup_IS.bin") must fit in MAX_PATH with
// the NUL: a folder of 229 characters, its backslash included, still gets its work directory; one
// of 230 does not.
TEST(WorkDirectory, TemporaryFolderFallsBackToTheDriveRootAndMustLeaveRoom)
{
    const WorkDirectoryCalls calls = {FakeGetTempPath, GetTempFileNameA, NULL};
    const struct { DWORD result; const char* folder; } cases[] = {
        {8, "D:\\Temp\\"}, {MAX_PATH - 1, "D:\\Temp\\"}, {0, "C:\\"}, {MAX_PATH, "C:\\"}, {MAX_PATH + 40, "C:\\"}};
    for (const auto& c : cases)
    {
        g_nTempPathResult = c.result;
        char folder[MAX_PATH];
        GetTemporaryFolder(folder, calls);
        EXPECT_STREQ(c.folder, folder) << "GetTempPathA gave " << c.result;
    }
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

// Without a temporary name the directory is exp.tmp; one left by an earlier run means no work
// directory, and the leftover stays as it was. A directory gone after it was made is no work
// directory either. Nothing of the run's own is left in the folder.
TEST(WorkDirectory, FallbackNameAndGoneDirectory)
{
    std::string temp = MakeTempDir("wd");
    const WorkDirectoryCalls noName = {GetTempPathA, NoTempFileName, FolderExists};
    const WorkDirectoryCalls gone = {GetTempPathA, GetTempFileNameA, NeverExists};
    {
        CWorkDirectory work(noName);
        ASSERT_TRUE(work.Create(temp.c_str()));
        ASSERT_TRUE(work.Check());
        EXPECT_EQ(temp + "exp.tmp\\", work.GetPath());
        EXPECT_TRUE(FileExists(temp + "exp.tmp"));
    }
    EXPECT_TRUE(ListFolder(temp).empty()) << "removed when its owner goes";
    {
        CWorkDirectory work(gone);
        ASSERT_TRUE(work.Create(temp.c_str()));
        EXPECT_FALSE(work.Check());
        EXPECT_EQ(0, strncmp(work.GetPath(), (temp + "exp").c_str(), temp.size() + 3)) << work.GetPath();
    }
    EXPECT_TRUE(ListFolder(temp).empty());
    ASSERT_TRUE(CreateDirectoryA((temp + "exp.tmp").c_str(), NULL));
    ASSERT_TRUE(WriteFileBytes(temp + "exp.tmp\\left.txt", "x"));
    CWorkDirectory work(noName);
    EXPECT_FALSE(work.Create(temp.c_str()));
    EXPECT_TRUE(FileExists(temp + "exp.tmp\\left.txt"));
    RemoveTree(temp);
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
