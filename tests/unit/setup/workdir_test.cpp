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

TEST(WorkDirectory, WithoutATemporaryNameItIsExpTmp)
{
    std::string temp = MakeTempDir("wdname");
    const WorkDirectoryCalls calls = {GetTempPathA, NoTempFileName, FolderExists};
    {
        CWorkDirectory work(calls);
        ASSERT_TRUE(work.Create(temp.c_str()));
        EXPECT_EQ(temp + "exp.tmp", work.GetPath());
        ASSERT_TRUE(work.Check());
        EXPECT_EQ(temp + "exp.tmp\\", work.GetPath());
        EXPECT_TRUE(FileExists(temp + "exp.tmp"));
    }
    EXPECT_TRUE(ListFolder(temp).empty()) << "removed when its owner goes";

    // An exp.tmp left by an earlier run: no work directory, and the leftover stays as it was.
    ASSERT_TRUE(CreateDirectoryA((temp + "exp.tmp").c_str(), NULL));
    ASSERT_TRUE(WriteFileBytes(temp + "exp.tmp\\left.txt", "x"));
    {
        CWorkDirectory work(calls);
        EXPECT_FALSE(work.Create(temp.c_str()));
    }
    EXPECT_TRUE(FileExists(temp + "exp.tmp\\left.txt"));
    RemoveTree(temp);
}

TEST(WorkDirectory, GoneAfterItWasMadeIsNoWorkDirectoryAndLeavesNothing)
{
    std::string temp = MakeTempDir("wdgone");
    const WorkDirectoryCalls calls = {GetTempPathA, GetTempFileNameA, NeverExists};
    {
        CWorkDirectory work(calls);
        ASSERT_TRUE(work.Create(temp.c_str()));
        EXPECT_FALSE(work.Check());
        EXPECT_EQ(0, strncmp(work.GetPath(), (temp + "exp").c_str(), temp.size() + 3)) << work.GetPath();
        work.Remove();
    }
    EXPECT_TRUE(ListFolder(temp).empty());
    RemoveTree(temp);
}

} // namespace
