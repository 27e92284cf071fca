#include "payload/ChildProcess.h"
#include "base/Module.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <sstream>

namespace
{
const char kArchiveFile[] = "PivoraSetup_IS.bin";

// The doubles' log lines, without the registry line (its value depends on what ran before) and,
// unless asked for, without the foreground line.
std::vector<std::string> LogLines(const std::string& path, bool withForeground)
{
    std::string text, line;
    ReadFileBytes(path, &text);
    std::istringstream in(text);
    std::vector<std::string> lines;
    while (std::getline(in, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("setup ProgramsPath=", 0) != 0 &&
            (withForeground || line.rfind("setup foreground=", 0) != 0))
            lines.push_back(line);
    }
    return lines;
}

// The wait dialog ("Vantori セットアップ", class #32770) on a thread of its own that serves its
// messages, as the real one does. It counts the hides and shows from its making on, and when
// the first hide came.
class CWaitWindow
{
public:
    explicit CWaitWindow(bool visible) : m_bVisible(visible)
    {
        m_hReady = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_hThread = CreateThread(NULL, 0, ThreadMain, this, 0, &m_dwThreadId);
        WaitForSingleObject(m_hReady, 10000);
        m_nHides = m_nShows = 0;
        m_dwStart = GetTickCount();
    }
    ~CWaitWindow()
    {
        PostThreadMessageA(m_dwThreadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_hThread, 10000);
        CloseHandle(m_hThread);
        CloseHandle(m_hReady);
    }
    CWaitWindow(const CWaitWindow&) = delete;
    CWaitWindow& operator=(const CWaitWindow&) = delete;

    std::atomic<HWND> m_hWnd{NULL};
    std::atomic<int> m_nHides{0};
    std::atomic<int> m_nShows{0};
    std::atomic<DWORD> m_dwFirstHide{0};

private:
    static DWORD WINAPI ThreadMain(void* param)
    {
        CWaitWindow* self = static_cast<CWaitWindow*>(param);
        HWND window = CreateWindowExA(0, "#32770", Sjis(u8"Vantori セットアップ").c_str(),
                                      WS_POPUP | WS_CAPTION, 40, 40, 300, 100, NULL, NULL, NULL, NULL);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_pfnDefault = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
        if (self->m_bVisible)
            ShowWindow(window, SW_SHOW);
        self->m_hWnd = window;
        SetEvent(self->m_hReady);
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0)
            DispatchMessageA(&msg);
        DestroyWindow(window);
        return 0;
    }
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        CWaitWindow* self = reinterpret_cast<CWaitWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_SHOWWINDOW && wParam)
            ++self->m_nShows;
        else if (message == WM_SHOWWINDOW && ++self->m_nHides == 1)
            self->m_dwFirstHide = GetTickCount() - self->m_dwStart;
        return CallWindowProcA(self->m_pfnDefault, window, message, wParam, lParam);
    }

    bool m_bVisible;
    HANDLE m_hReady;
    HANDLE m_hThread;
    DWORD m_dwThreadId = 0;
    WNDPROC m_pfnDefault = NULL;
    std::atomic<DWORD> m_dwStart{0};
};
} // namespace

TEST(RunInnerInstaller, BringsTheWindowForwardAndHidesTheWaitDialogMeanwhile)
{
    const std::string logDir = MakeTempDir("pvl"), log = logDir + "fake.log";
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log);
    // The pull to the front lowers the foreground lock time-out for a moment only.
    DWORD savedTimeout = 0, timeout = 0;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &savedTimeout, 0));
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<PVOID>(123456), 0);

    const std::vector<std::string> found = {"setup waitdlg visible=1", "setup window shown",
                                            "setup foreground=1", "setup waitdlg visible=0", "setup end"};
    const std::vector<std::string> notShown = {"setup waitdlg visible=0", "setup window shown", "setup end"};
    const struct
    {
        int wait;                   // 1 a visible wait dialog, 0 a hidden one, -1 none (null)
        int delay, runMs, exitCode; // of the installer's window, of its run after it
        DWORD hideFrom, hideBelow;  // ms from the start to the wait dialog's hide
        std::vector<std::string> events;
    } cases[] = {
        // The pause after the search that found the window comes before the pull to the front.
        {1, 0, 1000, 0, 500, 60000, found},
        {1, 3000, 1500, 0, 3500, 5500, found},
        // No window: ten seconds of searching, then the wait dialog is hidden all the same, and
        // a non-zero exit code still counts as run.
        {1, -1, 11000, 7, 10000, 11500,
         {"setup waitdlg visible=1", "setup waitdlg visible=0", "setup end"}},
        {0, 0, 1500, 0, 0, 0, notShown},
        {-1, 0, 1500, 0, 0, 0, notShown},
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE("wait dialog " + std::to_string(t.wait) + ", window delay " + std::to_string(t.delay));
        CScopedEnv delay("PIVORA_FAKE_SETUP_WINDOW_DELAY", t.delay);
        CScopedEnv run("PIVORA_FAKE_SETUP_RUN_MS", t.runMs);
        CScopedEnv exitCode("PIVORA_FAKE_SETUP_EXIT", t.exitCode);
        // A work directory with a blank: the bare path as command line would start
        // "<temp>\pvdecoy.exe", the first piece of it that names a program.
        const std::string work = MakeTempDir("pvdecoy x");
        const std::string decoy = work.substr(0, work.find(' ')) + ".exe";
        ASSERT_TRUE(CopyFileA((ProgramDir() + "doubles\\fake_dxsetup.exe").c_str(), decoy.c_str(), FALSE));
        CWaitWindow wait(t.wait == 1);
        const DWORD start = GetTickCount();
        EXPECT_TRUE(RunInnerInstaller(work.c_str(), t.wait >= 0 ? HWND(wait.m_hWnd) : NULL));
        const DWORD elapsed = GetTickCount() - start;
        DeleteFileA(decoy.c_str());

        std::vector<std::string> expected = t.events;
        expected.insert(expected.begin(), "setup start " + work + "setup.exe");
        EXPECT_EQ(expected, LogLines(log, t.wait == 1));
        EXPECT_GE(elapsed, static_cast<DWORD>(std::max(t.delay, 0) + t.runMs));
        // setup.exe is deleted; the archive stays for the removal of the whole work directory.
        EXPECT_EQ(std::vector<std::string>{kArchiveFile}, ListFolder(work));
        EXPECT_EQ(t.wait == 1 ? 1 : 0, wait.m_nHides);
        EXPECT_EQ(t.wait == 1 ? 1 : 0, wait.m_nShows);
        EXPECT_EQ(t.wait == 1, IsWindowVisible(wait.m_hWnd) != FALSE);
        if (t.wait == 1)
        {
            EXPECT_GE(wait.m_dwFirstHide, t.hideFrom);
            EXPECT_LT(wait.m_dwFirstHide, t.hideBelow);
        }
        SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
        EXPECT_EQ(123456u, timeout);
        DeleteFileA(log.c_str());
        RemoveTree(work);
    }
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                          reinterpret_cast<PVOID>(static_cast<DWORD_PTR>(savedTimeout)), 0);
    RemoveTree(logDir);
}

// Without a string table to read the title from, the installer's window is looked for all the
// same, by the title it has.
TEST(RunInnerInstaller, LooksForTheWindowAlsoWithoutTheStringTable)
{
    const std::string logDir = MakeTempDir("pvl"), log = logDir + "fake.log", work = MakeTempDir("pvt");
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log);
    HMODULE module = LoadLibraryA((ProgramDir() + "payload_notitle.dll").c_str());
    ASSERT_TRUE(module != NULL);
    const HINSTANCE own = GetModuleInstance();
    SetModuleInstance(module);
    CWaitWindow wait(true);
    EXPECT_TRUE(RunInnerInstaller(work.c_str(), wait.m_hWnd));
    SetModuleInstance(own);
    FreeLibrary(module);
    const std::vector<std::string> lines = LogLines(log, true);
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "setup foreground=1")) << "not looked for";
    RemoveTree(work);
    RemoveTree(logDir);
}

TEST(RunWmfDist, RunsQuietlyAndDeletesTheProgram)
{
    const std::string logDir = MakeTempDir("pvl"), log = logDir + "fake.log", work = MakeTempDir("pvw");
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log);
    CScopedEnv exitCode("PIVORA_FAKE_WMFDIST_EXIT", 5);   // still counts as run
    EXPECT_TRUE(RunWmfDist(work.c_str()));
    EXPECT_EQ((std::vector<std::string>{"wmfdist start \"" + work + "wmfdist.exe\" /Q",
                                        "wmfdist setup.exe present=0"}),
              LogLines(log, true));
    EXPECT_EQ(std::vector<std::string>(), ListFolder(work));
    RemoveTree(work);
    RemoveTree(logDir);
}

// Modules with other resources 207 and 203: a setup.exe and a wmfdist.exe that cannot be
// started; a 207 that is no archive (and the same junk as 203); good ones whose checksums
// (resource 209) do not match; none at all.
TEST(ChildPrograms, FailWhenUnpackingExtractionOrTheStartFails)
{
    const std::string logDir = MakeTempDir("pvl"), log = logDir + "fake.log";
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log);
    const struct
    {
        std::string module;
        std::vector<std::string> installerLeft;   // removed later with the work directory
    } cases[] = {
        {ProgramDir() + "payload_badstart.dll", {kArchiveFile, "setup.exe"}},
        {ProgramDir() + "payload_badarchive.dll", {kArchiveFile}},
        {ProgramDir() + "payload_damaged.dll", {}},   // the damaged archive deleted, not extracted
        {"kernel32.dll", {}},
    };
    const HINSTANCE own = GetModuleInstance();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.module);
        HMODULE module = LoadLibraryA(c.module.c_str());
        ASSERT_TRUE(module != NULL);
        SetModuleInstance(module);
        const std::string installerWork = MakeTempDir("pvi"), wmfWork = MakeTempDir("pvw");
        EXPECT_FALSE(RunInnerInstaller(installerWork.c_str(), NULL));
        EXPECT_EQ(c.installerLeft, ListFolder(installerWork));
        EXPECT_FALSE(RunWmfDist(wmfWork.c_str()));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(wmfWork));   // deleted all the same
        EXPECT_FALSE(FileExists(log));
        SetModuleInstance(own);
        FreeLibrary(module);
        RemoveTree(installerWork);
        RemoveTree(wmfWork);
    }
    RemoveTree(logDir);
}

// The pull from another process is logged by the installer's double above; here the window in
// front is one of this thread's own, and then one that is gone.
TEST(BringToForeground, WindowsOfThisThreadAndGoneOnes)
{
    HWND first = CreateWindowExA(0, "STATIC", "first", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                 200, 100, NULL, NULL, NULL, NULL);
    HWND second = CreateWindowExA(0, "STATIC", "second", WS_OVERLAPPEDWINDOW, 300, 300, 200, 100,
                                  NULL, NULL, NULL, NULL);
    ShowWindow(second, SW_SHOWNOACTIVATE);
    SetForegroundWindow(first);
    ASSERT_EQ(first, GetForegroundWindow());
    EXPECT_TRUE(BringToForeground(second));
    EXPECT_EQ(second, GetForegroundWindow());
    DestroyWindow(first);
    EXPECT_FALSE(BringToForeground(first));
    DestroyWindow(second);
}
