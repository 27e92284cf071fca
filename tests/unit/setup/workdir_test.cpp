// The ends of the work directory that a real system rarely shows, through the calls the run
// takes from the system: no temporary folder, no temporary name, a directory gone after it was
// made. Everything else of it is seen from outside in the end-to-end runs.
#include <gtest/gtest.h>
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

} // namespace
