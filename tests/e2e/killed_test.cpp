// A run killed at each of its steps, and what the next run makes of its leftovers and of records
// that name a folder it must not touch.
#include "e2e/Scenario.h"
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

namespace {

typedef std::vector<std::string> Lines;

// The size of a file in the folder; -1 when it is not there.
LONGLONG SizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class KilledRun : public ScenarioTest
{
protected:
    // The work directory of the run in the temporary folder, with a backslash; empty when none.
    std::string WorkDirectory() const
    {
        const Lines found = ListFolder(m_Temp, "exp*");
        return found.size() == 1 ? m_Temp + found[0] + "\\" : "";
    }
    // The run killed once seen holds; whatever it started ends by itself a little later, as a
    // real program would, and is waited for by the line it logs at its end (childEnd, when
    // given). The work directory it left.
    std::string KillWhen(SetupRun run, std::function<bool()> seen, const char* childEnd = NULL)
    {
        // Watched from a thread of its own, every millisecond, and killed at once
        // (TerminateProcess, as a power cut ends it) when seen first holds.
        std::atomic<DWORD> pid{0};
        std::atomic<bool> killed{false}, ended{false};
        run.onIdle = [&](DWORD id) { pid = id; };
        std::thread watcher([&] {
            for (; !ended && !killed; Sleep(1))
                if (HANDLE process = pid ? OpenProcess(PROCESS_TERMINATE, FALSE, pid) : NULL)
                {
                    if (seen())
                        killed = TerminateProcess(process, 0xDEAD) != FALSE;
                    CloseHandle(process);
                }
        });
        const RunResult result = RunSetup(run);
        ended = true;
        watcher.join();
        EXPECT_TRUE(killed);
        EXPECT_EQ(0xDEADu, result.exitCode);
        for (int i = 0; childEnd && i < 100 && Find(childEnd) < 0; ++i)
            Sleep(100);
        const std::string left = WorkDirectory();
        EXPECT_FALSE(left.empty()) << "the killed run left its work directory";
        EXPECT_TRUE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
        return left.empty() ? "<none>" : left;
    }
    std::string KillWhileTheInstallerRuns()
    {
        SetupRun run = Run();
        run.environment.push_back({"PIVORA_FAKE_SETUP_RUN_MS", "3000"});
        return KillWhen(run, [this] { return Find("setup window shown") >= 0; }, "setup end");
    }
    bool Logged(const std::string& prefix) const
    {
        const Lines events = RunLog();
        return std::any_of(events.begin(), events.end(),
                           [&](const std::string& e) { return e.compare(0, prefix.size(), prefix) == 0; });
    }
    // A run that ends at its space check, before it records a directory of its own: a temporary
    // folder that does not exist.
    void RunThatEndsAtTheSpaceCheck()
    {
        SetupRun run = Run("/Silent");
        run.environment[0].second = run.environment[1].second = m_Temp + "missing\\";
        EXPECT_EQ(Lines{Messages::NoSpace()}, Texts(RunSetup(run)));
        ExpectLogEnd("too little temporary space", -1);
    }
};

// A record as a run writes it for folder (ending with a backslash): its volume serial number
// (changed by the bits of volumeXor), its file ID, and its final path, or path when given.
void WriteRecord(const std::string& folder, DWORD volumeXor = 0, const std::string& path = "")
{
    HANDLE handle = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    BY_HANDLE_FILE_INFORMATION info = {};
    char final[MAX_PATH + 8] = "\\\\?\\";
    ASSERT_TRUE(GetFileInformationByHandle(handle, &info) &&
                GetFinalPathNameByHandleA(handle, final, sizeof(final), 0)) << folder;
    CloseHandle(handle);
    char text[2 * MAX_PATH];
    wsprintfA(text, "%08lX %08lX%08lX %s", info.dwVolumeSerialNumber ^ volumeXor, info.nFileIndexHigh,
              info.nFileIndexLow, path.empty() ? final + 4 : path.c_str());
    SetStringValue(kPivoraKey, "SetupWorkDirectory", text);
}

// The next run, which completes, removes the killed run's directory: afterwards nothing of
// either is in the temporary folder. The cleaning changes no hand-off value (the killed run's
// ProgramsPath and Abort are still as it left them when the next run asks for its destination),
// and the mutex still keeps a third copy out, which touches nothing.
TEST_F(KilledRun, NextRunRemovesItsWorkDirectory)
{
    SetDwordValue(kSetupMgrKey, "Abort", 7);
    const std::string left = KillWhileTheInstallerRuns();
    for (const char* file : {"setup.exe", "PivoraSetup_IS.bin", "readme.txt"})
        EXPECT_TRUE(FileExists(left + file)) << file;

    SetupRun run = Run();
    run.onMessage = [](const SeenMessage&) { return IDNO; };
    std::string programsPath;
    DWORD abort = 0;
    RunResult third;
    bool recordedWhileThirdRan = false;
    const auto typeDestination = run.onDestination;
    run.onDestination = [&](HWND dialog) {
        ReadStringValue(kPivoraKey, "ProgramsPath", &programsPath);
        ReadDwordValue(kSetupMgrKey, "Abort", &abort);
        SetupRun copy;
        copy.environment = {{"TEMP", m_Temp}, {"TMP", m_Temp}};
        copy.timeoutMs = 20000;
        third = RunSetup(copy);
        recordedWhileThirdRan = ValueExists(kPivoraKey, "SetupWorkDirectory");
        return typeDestination(dialog);
    };
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(Lines{Messages::Restart()}, Texts(result)) << "the run completes";
    EXPECT_EQ(m_Destination + "\\", programsPath);
    EXPECT_EQ(7u, abort);
    EXPECT_EQ(0xFFFFFFFFu, third.exitCode) << "the mutex keeps the third copy out";
    EXPECT_TRUE(recordedWhileThirdRan) << "the third copy took the running one's record";
    EXPECT_EQ((Lines{"dest", "events.log", "run.log"}), ListFolder(m_Temp));
    EXPECT_FALSE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
    EXPECT_TRUE(Logged("earlier work directory: removed"));
    ExpectLogEnd("completed", 0);
}

// A run killed while it writes the archive (a payload of 104 MiB, seen growing), while it
// extracts it (its largest entry seen growing) and while the redistributable runs: the next run
// completes, leaves nothing of either behind, and the record is gone. (Killed while the inner
// installer runs: NextRunRemovesItsWorkDirectory.)
TEST_F(KilledRun, NextRunCleansUpAfterAKillAtEveryStep)
{
    const LONGLONG kZeros = 104LL << 20;
    const auto growing = [this, kZeros](const char* file) {
        const std::string folder = WorkDirectory();
        const LONGLONG size = folder.empty() ? -1 : SizeOf(folder + file);
        return size > 0 && size < kZeros;
    };
    const struct
    {
        const char* step;
        std::function<bool()> seen;
        const char* childEnd;
    } steps[] = {{"writing the archive", [&] { return growing("PivoraSetup_IS.bin"); }, NULL},
                 {"extracting it", [&] { return growing("zeros.bin"); }, NULL},
                 {"running the redistributable", [this] { return Find("wmfdist start") >= 0; }, "wmfdist end"}};
    for (const auto& step : steps)
    {
        SCOPED_TRACE(step.step);
        SetupRun run = Run();
        if (!step.childEnd)
            run.exe = ProgramDir() + "PivoraSetup_large.exe";
        run.environment.push_back({"PIVORA_FAKE_WMFDIST_RUN_MS", "3000"});
        KillWhen(run, step.seen, step.childEnd);

        const RunResult next = RunSetup(Run("/Silent"));
        EXPECT_EQ(0u, next.exitCode);
        EXPECT_TRUE(next.messages.empty());
        EXPECT_EQ(Lines{}, ListFolder(m_Temp, "exp*"));
        EXPECT_FALSE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
        EXPECT_TRUE(Logged("earlier work directory: removed"));
        ExpectLogEnd("completed", 0);
        RemoveTree(m_LogPath);
    }
}

// Records that name a folder no run made: one of another name (in the machine's data folder: a
// widened access list on the key would let a user name any folder there), and one with the name
// of a work directory that the user made. Each stays with its files; the record goes.
TEST_F(KilledRun, RecordOfAFolderNoRunMadeIsLeftAlone)
{
    CreateDirectoryA("C:\\ProgramData", NULL);
    const std::string victim = MakeTempDir("Victim", "C:\\ProgramData\\"), named = m_Temp + "exp1234.tmp\\";
    ASSERT_TRUE(!victim.empty() && CreateDirectoryA(named.c_str(), NULL));
    const std::pair<std::string, const char*> cases[] = {
        {victim, "no name of a work directory"}, {named, "not the owner and access of a work directory"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.first);
        ASSERT_TRUE(WriteFileBytes(c.first + "kept.txt", "kept"));
        WriteRecord(c.first);
        RunThatEndsAtTheSpaceCheck();
        EXPECT_EQ(Lines{"kept.txt"}, ListFolder(c.first));
        EXPECT_FALSE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
        EXPECT_TRUE(Logged(std::string("earlier work directory: ") + c.second));
    }
    RemoveTree(victim);
}

// The killed run's directory, named by a record with another volume serial number or by another
// spelling of its path (the folder above it in its short form, or in upper case), and a directory
// put in its place under its name (its own moved away), are left alone, and the record goes;
// named by its own record, the killed run's directory is removed.
TEST_F(KilledRun, RecordMustNameTheDirectoryItself)
{
    const std::string left = KillWhileTheInstallerRuns(), moved = m_Temp + "moved\\";
    const std::string name = left.substr(m_Temp.size(), left.size() - m_Temp.size() - 1);
    const std::string leftPath = m_Temp + name, movedPath = m_Temp + "moved";
    char shortTemp[MAX_PATH] = "", upperTemp[MAX_PATH] = "";
    ASSERT_TRUE(GetShortPathNameA(m_Temp.c_str(), shortTemp, MAX_PATH) && m_Temp != shortTemp);
    lstrcpyA(upperTemp, m_Temp.c_str());
    CharUpperA(upperTemp);
    const struct { DWORD volumeXor; std::string path; const char* logged; } cases[] = {
        {0x00010000, "", "the name now belongs to another"},
        {0, shortTemp + name, "not reached by its own path"},
        {0, upperTemp + name, "not reached by its own path"},
        {0, leftPath, "the name now belongs to another"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.logged + c.path);
        const bool replaced = &c == &cases[3];
        // The new one is made while the old one still exists: Wine's file ID is the inode number,
        // which ext4 hands out again as soon as it is free.
        ASSERT_TRUE(!replaced || (MoveFileA(leftPath.c_str(), movedPath.c_str()) && CreateDirectoryA(left.c_str(), NULL) &&
                                  WriteFileBytes(left + "mine.txt", "the user's own")));
        WriteRecord(replaced ? moved : left, c.volumeXor, c.path);
        RunThatEndsAtTheSpaceCheck();
        EXPECT_TRUE(FileExists((replaced ? moved : left) + "setup.exe"));
        EXPECT_TRUE(!replaced || FileExists(left + "mine.txt"));
        EXPECT_FALSE(ValueExists(kPivoraKey, "SetupWorkDirectory"));
        EXPECT_TRUE(Logged(std::string("earlier work directory: ") + c.logged));
    }
    RemoveTree(left);
    ASSERT_TRUE(MoveFileA(movedPath.c_str(), leftPath.c_str()));
    WriteRecord(left);
    RunThatEndsAtTheSpaceCheck();
    EXPECT_EQ(Lines{}, ListFolder(m_Temp, "exp*"));
    EXPECT_TRUE(Logged("earlier work directory: removed"));
}

// The record of another run (another session's, which the mutex does not keep out) is its own:
// one that names a directory that run still holds stays for it, and one written while a run
// stands is still there when that run ends.
TEST_F(KilledRun, RecordOfAnotherRunStays)
{
    const std::string held = m_Temp + "expCAFE.tmp\\", other = m_Temp + "expBEEF.tmp\\";
    ASSERT_TRUE(CreateDirectoryA(held.c_str(), NULL) && CreateDirectoryA(other.c_str(), NULL));
    HANDLE hold = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    WriteRecord(held);
    std::string record, before;
    ReadStringValue(kPivoraKey, "SetupWorkDirectory", &before);
    RunThatEndsAtTheSpaceCheck();
    CloseHandle(hold);
    EXPECT_TRUE(ReadStringValue(kPivoraKey, "SetupWorkDirectory", &record) && record == before) << record;
    EXPECT_TRUE(Logged("earlier work directory: held by a run that goes on; left to it"));

    SetupRun run = Run("/Silent");
    const auto typeDestination = run.onDestination;
    run.onDestination = [&](HWND dialog) {
        WriteRecord(other);
        ReadStringValue(kPivoraKey, "SetupWorkDirectory", &before);
        return typeDestination(dialog);
    };
    EXPECT_EQ(0u, RunSetup(run).exitCode);
    ExpectLogEnd("completed", 0);
    EXPECT_TRUE(ReadStringValue(kPivoraKey, "SetupWorkDirectory", &record) && record == before) << record;
    DeleteValue(kPivoraKey, "SetupWorkDirectory");
}

} // namespace
