// The ends of the work directory that a real system rarely shows, through the calls the run
// takes from the system: no temporary folder, no temporary name, a directory gone after it was
// made; and the security of an elevated run's work directory, read back from the descriptor the
// run creates it with (Wine keeps no access lists on its files, so the folder cannot tell).
// Everything else of it is seen from outside in the end-to-end runs.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <string.h>
#include "common/TestSupport.h"
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

TEST(WorkDirectory, TemporaryFolderFallsBackToTheDriveRoot)
{
    const WorkDirectoryCalls calls = {FakeGetTempPath, GetTempFileNameA, NULL};
    const struct { DWORD result; const char* folder; } cases[] = {
        {8, "D:\\Temp\\"}, {0, "C:\\"}, {MAX_PATH, "C:\\"}, {MAX_PATH + 40, "C:\\"}};
    for (const auto& c : cases)
    {
        g_nTempPathResult = c.result;
        char folder[MAX_PATH];
        GetTemporaryFolder(folder, calls);
        EXPECT_STREQ(c.folder, folder) << "GetTempPathA gave " << c.result;
    }
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

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    return CreateWellKnownSid(type, NULL, buffer, &size) && EqualSid(sid, buffer);
}

TEST(WorkDirectorySecurity, AdministratorsAndSystemOnly)
{
    CLocalMemory descriptor(CreateAdminOnlyDescriptor());
    ASSERT_TRUE(descriptor.IsSet());

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the temp folder's access list must not flow in";
    // The owner may always rewrite the access list: not the user who made the folder.
    PSID owner = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted));
    EXPECT_TRUE(owner && IsWellKnown(owner, WinBuiltinAdministratorsSid)) << "the creating user would own it";
    PACL dacl = NULL;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl) << "a null DACL would grant everyone everything";
    ASSERT_EQ(2u, (unsigned)dacl->AceCount);

    const WELL_KNOWN_SID_TYPE expected[2] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
    for (DWORD i = 0; i < dacl->AceCount; ++i)
    {
        void* ace = NULL;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        ACCESS_ALLOWED_ACE* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_TRUE(a->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && a->Mask == FILE_ALL_ACCESS &&
                    a->Header.AceFlags == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) &&
                    IsWellKnown(&a->SidStart, expected[i]))
            << i << ": type " << int(a->Header.AceType) << ", flags " << int(a->Header.AceFlags) << ", mask " << a->Mask;
    }
}

} // namespace
