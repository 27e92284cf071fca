// The child programs with the test doubles as payload: the inner installer and the wait dialog
// around it, the redistributable, and the failures of unpacking, extraction and start.
#include "payload/ChildProcess.h"
#include "base/Module.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <fstream>

namespace
{
const char kArchiveFile[] = "PivoraSetup_IS.bin";

// The doubles' log lines, without the registry line (its value depends on what ran before) and,
// unless asked for, without the foreground line.
std::vector<std::string> LogLines(const std::string& path, bool withForeground)
{
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        if (line.rfind("setup ProgramsPath=", 0) && (withForeground || line.rfind("setup foreground=", 0)))
            lines.push_back(line.substr(0, line.find('\r')));
    return lines;
}

// The wait dialog's stand-in ("Vantori セットアップ", class #32770) on a thread of its own that
// serves its messages, as the real one does: it counts the hides and shows, and notes when the
// first hide came.
struct
{
    std::atomic<HWND> hwnd;
    std::atomic<int> hides, shows;
    std::atomic<DWORD> start, firstHide;
    WNDPROC dialogProc;
} g_Wait;

LRESULT CALLBACK WaitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHOWWINDOW && wParam)
        ++g_Wait.shows;
    else if (message == WM_SHOWWINDOW && ++g_Wait.hides == 1)
        g_Wait.firstHide = GetTickCount() - g_Wait.start;
    return CallWindowProcA(g_Wait.dialogProc, window, message, wParam, lParam);
}

DWORD WINAPI WaitThread(void* visible)
{
    HWND window = CreateWindowExA(0, "#32770", Sjis(u8"Vantori セットアップ").c_str(),
                                  WS_POPUP | WS_CAPTION | (visible ? WS_VISIBLE : 0), 40, 40, 300,
                                  100, NULL, NULL, NULL, NULL);
    g_Wait.dialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WaitWindowProc)));
    g_Wait.hwnd = window;
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(window);
    return 0;
}
} // namespace

TEST(RunInnerInstaller, BringsTheWindowForwardAndHidesTheWaitDialogMeanwhile)
{
    const std::string logDir = MakeTempDir("pvl"), log = logDir + "fake.log";
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log);
    // The pull to the front lowers the foreground lock time-out for a moment only.
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<PVOID>(123456), 0);

    // visible: the wait dialog's state at the start; module: the resources, when
    // not this program's; the delay of the installer's window, its run after it and its exit
    // code; the time from the start to the wait dialog's hide.
    const struct { bool visible; const char* module; int delay, runMs, exitCode; DWORD hideFrom, hideBelow;
                   std::vector<std::string> events; } cases[] = {
        // The window appears after the first search: a later one finds it, it is pulled to the
        // front half a second after that, and only then the wait dialog is hidden.
        {true, NULL, 700, 1500, 0, 1200, 4000, {"setup waitdlg visible=1", "setup window shown",
                                        "setup foreground=1", "setup waitdlg visible=0", "setup end"}},
        // The same without a string table to read the installer's title from: the window is
        // looked for all the same, by the title it has.
        {true, "payload_notitle.dll", 700, 1500, 0, 1200, 4000, {"setup waitdlg visible=1",
            "setup window shown", "setup foreground=1", "setup waitdlg visible=0", "setup end"}},
        // No window: ten seconds of searching, then the wait dialog is hidden all the same, and
        // a non-zero exit code still counts as run.
        {true, NULL, -1, 300, 7, 10000, 11500, {"setup waitdlg visible=1", "setup end"}},
        {false, NULL, 0, 600, 0, 0, 1, {"setup waitdlg visible=0", "setup window shown", "setup end"}},
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE("wait dialog visible " + std::to_string(t.visible) + ", window delay " + std::to_string(t.delay));
        CScopedEnv delay("PIVORA_FAKE_SETUP_WINDOW_DELAY", t.delay);
        CScopedEnv run("PIVORA_FAKE_SETUP_RUN_MS", t.runMs);
        CScopedEnv exitCode("PIVORA_FAKE_SETUP_EXIT", t.exitCode);
        // A work directory with a blank: the bare path as command line would start
        // "<temp>\pvdecoy.exe", the first piece of it that names a program.
        const std::string work = MakeTempDir("pvdecoy x");
        const std::string decoy = work.substr(0, work.find(' ')) + ".exe";
        ASSERT_TRUE(CopyFileA((ProgramDir() + "doubles\\fake_dxsetup.exe").c_str(), decoy.c_str(), FALSE));
        g_Wait.hwnd = NULL;
        DWORD threadId = 0, timeout = 0;
        HANDLE thread = CreateThread(NULL, 0, WaitThread, t.visible ? &g_Wait : NULL, 0, &threadId);
        while (!g_Wait.hwnd)
            Sleep(10);
        g_Wait.firstHide = g_Wait.hides = g_Wait.shows = 0;
        const HINSTANCE own = GetModuleInstance();
        HMODULE module = t.module ? LoadLibraryA((ProgramDir() + t.module).c_str()) : NULL;
        SetModuleInstance(module ? module : own);
        const DWORD start = g_Wait.start = GetTickCount();
        EXPECT_EQ(PayloadStepRan, RunInnerInstaller(work.c_str(), g_Wait.hwnd, NULL));
        const DWORD elapsed = GetTickCount() - start;
        SetModuleInstance(own);
        FreeLibrary(module);
        DeleteFileA(decoy.c_str());

        std::vector<std::string> expected = t.events;
        expected.insert(expected.begin(), "setup start " + work + "setup.exe");
        EXPECT_EQ(expected, LogLines(log, t.visible));
        EXPECT_GE(elapsed, static_cast<DWORD>(std::max(t.delay, 0) + t.runMs));
        // setup.exe is deleted; the archive stays for the removal of the whole work directory.
        EXPECT_EQ(std::vector<std::string>{kArchiveFile}, ListFolder(work));
        EXPECT_EQ(std::make_pair(int(t.visible), int(t.visible)),
                  std::make_pair(int(g_Wait.hides), int(g_Wait.shows))) << "hides, shows";
        EXPECT_EQ(t.visible, IsWindowVisible(g_Wait.hwnd) != FALSE);
        EXPECT_TRUE(g_Wait.firstHide >= t.hideFrom && g_Wait.firstHide < t.hideBelow)
            << "hidden at " << g_Wait.firstHide;
        SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
        EXPECT_EQ(123456u, timeout);
        PostThreadMessageA(threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        DeleteFileA(log.c_str());
        RemoveTree(work);
    }
    RemoveTree(logDir);
}

// Modules with other resources 207 and 203: a setup.exe and a wmfdist.exe that cannot be
// started; a 207 that is no archive (and the same junk as 203); good ones whose checksums
// (resource 209) do not match; none at all. Nothing starts, and wmfdist.exe is deleted all the
// same.
TEST(ChildPrograms, WmfDistRunsQuietlyAndAllFailWhenUnpackingExtractionOrTheStartFails)
{
    const std::string logDir = MakeTempDir("pvl"), log = logDir + "fake.log", wmf = MakeTempDir("pvw");
    CScopedEnv logEnv("PIVORA_FAKE_LOG", log);
    {
        // A failing exit code of the redistributable still counts as run.
        CScopedEnv exitCode("PIVORA_FAKE_WMFDIST_EXIT", 5);
        EXPECT_EQ(PayloadStepRan, RunWmfDist(wmf.c_str(), NULL));
        EXPECT_EQ("wmfdist start \"" + wmf + "wmfdist.exe\" /Q", LogLines(log, true).at(0));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(wmf));
        RemoveTree(wmf);
        DeleteFileA(log.c_str());
    }
    // installerLeft: what RunInnerInstaller leaves for the removal of the work directory.
    const struct { std::string module; std::vector<std::string> installerLeft; } cases[] = {
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
        const std::string work = MakeTempDir("pvi");
        EXPECT_EQ(PayloadStepFailed, RunInnerInstaller(work.c_str(), NULL, NULL));
        EXPECT_EQ(c.installerLeft, ListFolder(work));
        EXPECT_EQ(PayloadStepFailed, RunWmfDist(work.c_str(), NULL));
        EXPECT_EQ(c.installerLeft, ListFolder(work));
        EXPECT_FALSE(FileExists(log));
        SetModuleInstance(own);
        FreeLibrary(module);
        RemoveTree(work);
    }
    RemoveTree(logDir);
}

// The pull from another process is logged by the installer's double above; here the window in
// front is one of this thread's own.
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
    DestroyWindow(second);
}
