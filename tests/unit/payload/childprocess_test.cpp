#include "payload/ChildProcess.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include <gtest/gtest.h>
#include <atomic>

namespace
{
const char kArchiveFile[] = "PivoraSetup_IS.bin";

// The wait dialog of the run, played by a #32770 dialog titled like it ("Vantori セットアップ")
// on a thread of its own that serves its messages, as the real one does. It counts the
// WM_SHOWWINDOW messages that hide and show it after MarkStart, and when the first hide came.
class CWaitWindow
{
public:
    explicit CWaitWindow(bool visible) : m_bVisible(visible)
    {
        m_hReady = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_hThread = CreateThread(NULL, 0, ThreadMain, this, 0, &m_dwThreadId);
        WaitForSingleObject(m_hReady, 10000);
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

    HWND Window() const { return m_hWnd; }
    void MarkStart()
    {
        m_dwStart = GetTickCount();
        m_nHides = 0;
        m_nShows = 0;
        m_dwFirstHide = 0;
    }
    int Hides() const { return m_nHides; }
    int Shows() const { return m_nShows; }
    DWORD FirstHideMs() const { return m_dwFirstHide; }

private:
    static DWORD WINAPI ThreadMain(void* param)
    {
        CWaitWindow* self = static_cast<CWaitWindow*>(param);
        // An in-memory template: popup with a caption, no controls, no font.
        alignas(4) WORD dialog[16] = {};
        DLGTEMPLATE* tmpl = reinterpret_cast<DLGTEMPLATE*>(dialog);
        tmpl->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
        tmpl->x = 40;
        tmpl->y = 40;
        tmpl->cx = 200;
        tmpl->cy = 60;
        HWND window = CreateDialogIndirectParamA(GetModuleHandleA(NULL), tmpl, NULL, DialogProc,
                                                 reinterpret_cast<LPARAM>(self));
        SetWindowTextA(window, Sjis(u8"Vantori セットアップ").c_str());
        if (self->m_bVisible)
        {
            ShowWindow(window, SW_SHOW);
            SetForegroundWindow(window);
        }
        self->m_hWnd = window;
        SetEvent(self->m_hReady);
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0)
        {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DestroyWindow(window);
        return 0;
    }

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_INITDIALOG)
        {
            SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
            return TRUE;
        }
        CWaitWindow* self =
            reinterpret_cast<CWaitWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_SHOWWINDOW && self)
        {
            if (wParam)
                ++self->m_nShows;
            else if (++self->m_nHides == 1)
                self->m_dwFirstHide = GetTickCount() - self->m_dwStart;
        }
        return FALSE;
    }

    bool m_bVisible;
    HANDLE m_hReady;
    HANDLE m_hThread;
    DWORD m_dwThreadId = 0;
    std::atomic<HWND> m_hWnd{NULL};
    std::atomic<DWORD> m_dwStart{0};
    std::atomic<int> m_nHides{0};
    std::atomic<int> m_nShows{0};
    std::atomic<DWORD> m_dwFirstHide{0};
};

// One run of RunInnerInstaller in a fresh work directory, with the double's log beside it.
struct CInstallerRun
{
    explicit CInstallerRun(const char* prefix = "pvi")
    {
        m_strLogDir = MakeTempDir("pvl");
        m_strWorkDir = MakeTempDir(prefix);
    }
    ~CInstallerRun()
    {
        RemoveTree(m_strWorkDir);
        RemoveTree(m_strLogDir);
    }
    bool Run(HWND waitWindow)
    {
        CScopedEnv log("PIVORA_FAKE_LOG", (m_strLogDir + "fake.log").c_str());
        DWORD start = GetTickCount();
        bool result = RunInnerInstaller(m_strWorkDir.c_str(), waitWindow);
        m_dwElapsed = GetTickCount() - start;
        return result;
    }
    // The log without the registry line, whose value depends on what ran before.
    std::vector<std::string> Events(bool withForeground = true) const
    {
        std::vector<std::string> events;
        for (const std::string& line : ReadLines(m_strLogDir + "fake.log"))
            if (line.rfind("setup ProgramsPath=", 0) != 0 &&
                (withForeground || line.rfind("setup foreground=", 0) != 0))
                events.push_back(line);
        return events;
    }
    std::string StartLine() const { return "setup start " + m_strWorkDir + "setup.exe"; }

    std::string m_strLogDir;
    std::string m_strWorkDir;
    DWORD m_dwElapsed = 0;
};

HMODULE LoadTestModule(const char* name)
{
    return LoadLibraryA((TestsDir() + name).c_str());
}
} // namespace

TEST(RunInnerInstaller, BringsTheWindowForwardAndHidesTheWaitDialogMeanwhile)
{
    {
        SCOPED_TRACE("window at once, exit code 0");
        CWaitWindow wait(true);
        ASSERT_TRUE(wait.Window() != NULL);
        CScopedEnv delay("PIVORA_FAKE_SETUP_WINDOW_DELAY", 0);
        CScopedEnv run("PIVORA_FAKE_SETUP_RUN_MS", 1000);
        CInstallerRun r;
        wait.MarkStart();
        EXPECT_TRUE(r.Run(wait.Window()));
        EXPECT_EQ((std::vector<std::string>{r.StartLine(), "setup waitdlg visible=1",
                                            "setup window shown", "setup foreground=1",
                                            "setup waitdlg visible=0", "setup end"}),
                  r.Events());
        EXPECT_EQ(1, wait.Hides());
        EXPECT_EQ(1, wait.Shows());
        EXPECT_TRUE(IsWindowVisible(wait.Window()));
        // The pause after the search that found the window comes before the pull to the front.
        EXPECT_GE(wait.FirstHideMs(), 500u);
        EXPECT_FALSE(FileExists(r.m_strWorkDir + "setup.exe"));
        EXPECT_TRUE(FileExists(r.m_strWorkDir + kArchiveFile));
    }
    {
        SCOPED_TRACE("window after 3 seconds");
        CWaitWindow wait(true);
        CScopedEnv delay("PIVORA_FAKE_SETUP_WINDOW_DELAY", 3000);
        CScopedEnv run("PIVORA_FAKE_SETUP_RUN_MS", 1500);
        CInstallerRun r;
        wait.MarkStart();
        EXPECT_TRUE(r.Run(wait.Window()));
        EXPECT_EQ((std::vector<std::string>{r.StartLine(), "setup waitdlg visible=1",
                                            "setup window shown", "setup foreground=1",
                                            "setup waitdlg visible=0", "setup end"}),
                  r.Events());
        EXPECT_GE(wait.FirstHideMs(), 3500u);
        EXPECT_LT(wait.FirstHideMs(), 5500u);
        EXPECT_EQ(1, wait.Shows());
        EXPECT_TRUE(IsWindowVisible(wait.Window()));
    }
}

TEST(RunInnerInstaller, GoesOnWithoutAWindowAndIgnoresTheExitCode)
{
    CWaitWindow wait(true);
    CScopedEnv delay("PIVORA_FAKE_SETUP_WINDOW_DELAY", -1);
    CScopedEnv run("PIVORA_FAKE_SETUP_RUN_MS", 11000);
    CScopedEnv exitCode("PIVORA_FAKE_SETUP_EXIT", 7);
    CInstallerRun r;
    wait.MarkStart();
    EXPECT_TRUE(r.Run(wait.Window()));
    // Ten seconds of searching, then the wait dialog is hidden and the run waits all the same.
    EXPECT_EQ((std::vector<std::string>{r.StartLine(), "setup waitdlg visible=1",
                                        "setup waitdlg visible=0", "setup end"}),
              r.Events());
    EXPECT_GE(wait.FirstHideMs(), 10000u);
    EXPECT_LT(wait.FirstHideMs(), 11500u);
    EXPECT_GE(r.m_dwElapsed, 11000u);
    EXPECT_EQ(1, wait.Shows());
    EXPECT_FALSE(FileExists(r.m_strWorkDir + "setup.exe"));
}

TEST(RunInnerInstaller, LeavesAnInvisibleOrMissingWaitDialogAlone)
{
    CScopedEnv delay("PIVORA_FAKE_SETUP_WINDOW_DELAY", 0);
    CScopedEnv run("PIVORA_FAKE_SETUP_RUN_MS", 1500);
    {
        SCOPED_TRACE("wait dialog not visible");
        CWaitWindow wait(false);
        CInstallerRun r;
        wait.MarkStart();
        EXPECT_TRUE(r.Run(wait.Window()));
        EXPECT_EQ((std::vector<std::string>{r.StartLine(), "setup waitdlg visible=0",
                                            "setup window shown", "setup end"}),
                  r.Events(false));
        EXPECT_EQ(0, wait.Hides());
        EXPECT_EQ(0, wait.Shows());
        EXPECT_FALSE(IsWindowVisible(wait.Window()));
    }
    {
        // A work directory with a blank: the bare path as command line must not start
        // "<temp>\pvdecoy.exe", the first piece of it that names a program.
        SCOPED_TRACE("no wait dialog, work directory with a blank");
        CInstallerRun r("pvdecoy x");
        std::string decoy = r.m_strWorkDir.substr(0, r.m_strWorkDir.find(' ')) + ".exe";
        ASSERT_TRUE(CopyFileA((DoublesDir() + "fake_dxsetup.exe").c_str(), decoy.c_str(), FALSE));
        EXPECT_TRUE(r.Run(NULL));
        DeleteFileA(decoy.c_str());
        EXPECT_EQ((std::vector<std::string>{r.StartLine(), "setup waitdlg visible=0",
                                            "setup window shown", "setup end"}),
                  r.Events(false));
        EXPECT_FALSE(FileExists(r.m_strWorkDir + "setup.exe"));
    }
}

TEST(RunInnerInstaller, FailsWhenUnpackingExtractionOrTheStartFails)
{
    {
        SCOPED_TRACE("setup.exe that cannot be started");
        HMODULE module = LoadTestModule("payload_badstart.dll");
        ASSERT_TRUE(module != NULL);
        CScopedModule use(module);
        CInstallerRun r;
        EXPECT_FALSE(r.Run(NULL));
        EXPECT_EQ(std::vector<std::string>(), r.Events());
        // What was extracted stays for the removal of the whole work directory.
        EXPECT_EQ((std::vector<std::string>{kArchiveFile, "setup.exe"}), ListFolder(r.m_strWorkDir));
        FreeLibrary(module);
    }
    {
        SCOPED_TRACE("resource 207 that is no archive");
        HMODULE module = LoadTestModule("payload_badarchive.dll");
        ASSERT_TRUE(module != NULL);
        CScopedModule use(module);
        CInstallerRun r;
        EXPECT_FALSE(r.Run(NULL));
        EXPECT_EQ(std::vector<std::string>{kArchiveFile}, ListFolder(r.m_strWorkDir));
        FreeLibrary(module);
    }
    {
        SCOPED_TRACE("no resource 207");
        CScopedModule use(GetModuleHandleA("kernel32.dll"));
        CInstallerRun r;
        EXPECT_FALSE(r.Run(NULL));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(r.m_strWorkDir));
    }
}

TEST(RunWmfDist, RunsQuietlyAndDeletesTheProgram)
{
    std::string logDir = MakeTempDir("pvl");
    std::string log = logDir + "fake.log";
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log.c_str());
    {
        SCOPED_TRACE("started, non-zero exit code");
        CScopedEnv exitCode("PIVORA_FAKE_WMFDIST_EXIT", 5);
        std::string work = MakeTempDir("pvw");
        EXPECT_TRUE(RunWmfDist(work.c_str()));
        EXPECT_EQ((std::vector<std::string>{"wmfdist start \"" + work + "wmfdist.exe\" /Q",
                                            "wmfdist setup.exe present=0"}),
                  ReadLines(log));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(work));
        RemoveTree(work);
        DeleteFileA(log.c_str());
    }
    {
        SCOPED_TRACE("cannot be started: deleted all the same");
        HMODULE module = LoadTestModule("payload_badstart.dll");
        ASSERT_TRUE(module != NULL);
        CScopedModule use(module);
        std::string work = MakeTempDir("pvw");
        EXPECT_FALSE(RunWmfDist(work.c_str()));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(work));
        EXPECT_FALSE(FileExists(log));
        RemoveTree(work);
        FreeLibrary(module);
    }
    {
        SCOPED_TRACE("no resource 203");
        CScopedModule use(GetModuleHandleA("kernel32.dll"));
        std::string work = MakeTempDir("pvw");
        EXPECT_FALSE(RunWmfDist(work.c_str()));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(work));
        RemoveTree(work);
    }
    RemoveTree(logDir);
}

TEST(RunAndWait, StartsTheCommandLineAndWaitsForItsEnd)
{
    std::string logDir = MakeTempDir("pvl");
    std::string log = logDir + "fake.log";
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log.c_str());
    CScopedEnv exitCode("PIVORA_FAKE_WMFDIST_EXIT", 9);

    std::string command = "\"" + DoublesDir() + "fake_dxsetup.exe\" /x \"a b\"";
    EXPECT_TRUE(RunAndWait(&command[0]));
    command = "\"" + DoublesDir() + "fake_wmfdist.exe\" /Q";
    EXPECT_TRUE(RunAndWait(&command[0]));   // exit code 9 still counts as run
    EXPECT_EQ((std::vector<std::string>{
                  "dxsetup start \"" + DoublesDir() + "fake_dxsetup.exe\" /x \"a b\"",
                  "wmfdist start \"" + DoublesDir() + "fake_wmfdist.exe\" /Q",
                  "wmfdist setup.exe present=0"}),
              ReadLines(log));

    command = "\"" + logDir + "absent.exe\" /Q";
    EXPECT_FALSE(RunAndWait(&command[0]));
    RemoveTree(logDir);
}

namespace
{
// A visible top-level window on a thread of its own that serves its messages.
class CForeignWindow
{
public:
    CForeignWindow()
    {
        m_hReady = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_hThread = CreateThread(NULL, 0, ThreadMain, this, 0, &m_dwThreadId);
        WaitForSingleObject(m_hReady, 10000);
    }
    ~CForeignWindow()
    {
        PostThreadMessageA(m_dwThreadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_hThread, 10000);
        CloseHandle(m_hThread);
        CloseHandle(m_hReady);
    }
    CForeignWindow(const CForeignWindow&) = delete;
    CForeignWindow& operator=(const CForeignWindow&) = delete;
    HWND m_hWnd = NULL;

private:
    static DWORD WINAPI ThreadMain(void* param)
    {
        CForeignWindow* self = static_cast<CForeignWindow*>(param);
        self->m_hWnd = CreateWindowExA(0, "STATIC", "foreign", WS_OVERLAPPEDWINDOW, 300, 300, 200,
                                       100, NULL, NULL, NULL, NULL);
        ShowWindow(self->m_hWnd, SW_SHOWNOACTIVATE);
        SetEvent(self->m_hReady);
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0)
            DispatchMessageA(&msg);
        DestroyWindow(self->m_hWnd);
        return 0;
    }
    HANDLE m_hReady;
    HANDLE m_hThread;
    DWORD m_dwThreadId = 0;
};

HWND MakeWindow(const char* title, int showCommand)
{
    HWND window = CreateWindowExA(0, "STATIC", title, WS_OVERLAPPEDWINDOW, 100, 100, 200, 100,
                                  NULL, NULL, NULL, NULL);
    ShowWindow(window, showCommand);
    return window;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// The window that another thread activates becomes the foreground window once that thread has
// served the activation; this waits for it, up to two seconds.
HWND WaitForForeground(HWND expected)
{
    for (int i = 0; i < 100 && GetForegroundWindow() != expected; ++i)
    {
        PumpMessages();
        Sleep(20);
    }
    return GetForegroundWindow();
}
} // namespace

TEST(BringToForeground, TakesTheForegroundFromThisAndOtherThreads)
{
    HWND first = MakeWindow("first", SW_SHOW);
    SetForegroundWindow(first);
    PumpMessages();
    ASSERT_EQ(first, GetForegroundWindow());

    // Same thread as the window in front: a plain SetForegroundWindow.
    HWND second = MakeWindow("second", SW_SHOWNOACTIVATE);
    PumpMessages();
    ASSERT_NE(second, GetForegroundWindow());
    EXPECT_TRUE(BringToForeground(second));
    EXPECT_EQ(second, WaitForForeground(second));

    // Another thread; the foreground lock time-out is put back afterwards.
    DWORD saved = 0;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &saved, 0));
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                                      reinterpret_cast<PVOID>(static_cast<DWORD_PTR>(123456)), 0));
    {
        CForeignWindow foreign;
        ASSERT_TRUE(foreign.m_hWnd != NULL);
        EXPECT_TRUE(BringToForeground(foreign.m_hWnd));
        EXPECT_EQ(foreign.m_hWnd, WaitForForeground(foreign.m_hWnd));
        DWORD timeout = 0;
        SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
        EXPECT_EQ(123456u, timeout);
    }
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                          reinterpret_cast<PVOID>(static_cast<DWORD_PTR>(saved)), 0);

    // A window that is gone has no thread.
    DestroyWindow(first);
    EXPECT_FALSE(BringToForeground(first));
    DestroyWindow(second);
}
