// The inner installer's stand-in. Log lines (PIVORA_FAKE_LOG), as they happen:
//   setup start <command line>
//   setup waitdlg visible=0|1      the bootstrapper's wait dialog at the start
//   setup ProgramsPath=<value>     HKLM Software\Halvoro\PIVORA, empty when missing
//   setup canceled                 when PIVORA_FAKE_SETUP_CANCEL=1 wrote CANCELED=1
//   setup window shown             its window "Morvane インストーラ" appeared
//   setup foreground=1             its window became the foreground window
//   setup waitdlg visible=0|1      every later change of the wait dialog's visibility
//   setup foreground=0             the window never became the foreground window
//   setup end
// Behaviour:
//   PIVORA_FAKE_SETUP_WINDOW_DELAY  ms before the window appears; -1 never (default 0)
//   PIVORA_FAKE_SETUP_RUN_MS        ms it stays after the window appeared, or after the start
//                                   when it never shows one (default 1000)
//   PIVORA_FAKE_SETUP_EXIT          exit code (default 0)
//   PIVORA_FAKE_SETUP_CANCEL        1: writes DWORD CANCELED=1 like a cancelled installation
//   PIVORA_FAKE_ENV_NAMES           variables to log before the end (FakeLogEnvironment)
//   PIVORA_FAKE_SETUP_RUNONCE       a file that a RunOnce command (HKLM, the 64-bit view, where
//                                   Windows and Wine run it at the next start) writes, as
//                                   installers that finish at the next start register one
#include "doubles.h"

namespace
{
const char kKey[] = "Software\\Halvoro\\PIVORA";
const wchar_t kWaitClass[] = L"#32770";
const DWORD kPollMs = 50;

// Looked for and shown in UTF-16, as the titles read on every ANSI code page.
wchar_t g_szWaitCaption[256];

int WaitDialogVisible()
{
    HWND wait = FindWindowW(kWaitClass, g_szWaitCaption);
    return wait && IsWindowVisible(wait) ? 1 : 0;
}

void LogProgramsPath()
{
    char value[1024] = "";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS)
    {
        DWORD type = 0;
        DWORD size = sizeof(value) - 1;
        if (RegQueryValueExA(key, "ProgramsPath", NULL, &type, reinterpret_cast<BYTE*>(value),
                             &size) != ERROR_SUCCESS || type != REG_SZ)
            size = 0;
        value[size] = '\0';
        RegCloseKey(key);
    }
    FakeLog("setup ProgramsPath=%s", value);
}

void RegisterRunOnce()
{
    char marker[MAX_PATH], command[MAX_PATH + 64];
    DWORD length = GetEnvironmentVariableA("PIVORA_FAKE_SETUP_RUNONCE", marker, sizeof(marker));
    if (length == 0 || length >= sizeof(marker))
        return;
    wsprintfA(command, "C:\\windows\\system32\\cmd.exe /c echo restarted> \"%s\"", marker);
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, NULL, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    if (RegSetValueExA(key, "PivoraFakeSetup", 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                       lstrlenA(command) + 1) == ERROR_SUCCESS)
        FakeLog("setup runonce registered");
    RegCloseKey(key);
}

void WriteCanceled()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, NULL, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    DWORD one = 1;
    if (RegSetValueExA(key, "CANCELED", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                       sizeof(one)) == ERROR_SUCCESS)
        FakeLog("setup canceled");
    RegCloseKey(key);
}

HWND ShowInstallerWindow(HINSTANCE instance)
{
    wchar_t title[256];
    LoadStringW(instance, IDS_FAKE_SETUP_TITLE, title, sizeof(title) / sizeof(title[0]));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"PivoraFakeSetup";
    RegisterClassW(&wc);
    HWND window;
    if (FakeEnvInt("PIVORA_FAKE_SETUP_ANSI_WINDOW", 0) == 1)
    {
        // An ANSI installer whose title is the code page 932 bytes, whatever the system's.
        char ansiTitle[512];
        WideCharToMultiByte(932, 0, title, -1, ansiTitle, sizeof(ansiTitle), NULL, NULL);
        WNDCLASSA ansiClass = {};
        ansiClass.lpfnWndProc = DefWindowProcA;
        ansiClass.hInstance = instance;
        ansiClass.hbrBackground = wc.hbrBackground;
        ansiClass.lpszClassName = "PivoraFakeSetupAnsi";
        RegisterClassA(&ansiClass);
        window = CreateWindowExA(0, ansiClass.lpszClassName, ansiTitle, WS_OVERLAPPEDWINDOW, 200,
                                 200, 360, 240, NULL, NULL, instance, NULL);
    }
    else
    {
        window = CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 200, 200, 360,
                                 240, NULL, NULL, instance, NULL);
    }
    // Shown without taking the activation: only the bootstrapper's pull to the front makes it
    // the foreground window, so the log tells whether that pull happened.
    ShowWindow(window, SW_SHOWNOACTIVATE);
    FakeLog("setup window shown");
    return window;
}

// Serves the window's messages for ms milliseconds and logs what changes meanwhile.
void Run(HWND window, DWORD ms, bool* wasForeground, int* waitVisible)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (window && !*wasForeground && GetForegroundWindow() == window)
        {
            *wasForeground = true;
            FakeLog("setup foreground=1");
        }
        int visible = WaitDialogVisible();
        if (visible != *waitVisible)
        {
            *waitVisible = visible;
            FakeLog("setup waitdlg visible=%d", visible);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms)
            return;
        DWORD step = ms - elapsed < kPollMs ? ms - elapsed : kPollMs;
        MsgWaitForMultipleObjects(0, NULL, FALSE, step, QS_ALLINPUT);
    }
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    FakeLog("setup start %s", GetCommandLineA());
    LoadStringW(instance, IDS_FAKE_WAIT_CAPTION, g_szWaitCaption,
                sizeof(g_szWaitCaption) / sizeof(g_szWaitCaption[0]));
    int waitVisible = WaitDialogVisible();
    FakeLog("setup waitdlg visible=%d", waitVisible);
    LogProgramsPath();
    if (FakeEnvInt("PIVORA_FAKE_SETUP_CANCEL", 0) == 1)
        WriteCanceled();
    RegisterRunOnce();

    const int delay = FakeEnvInt("PIVORA_FAKE_SETUP_WINDOW_DELAY", 0);
    const int runMs = FakeEnvInt("PIVORA_FAKE_SETUP_RUN_MS", 1000);
    bool wasForeground = false;
    HWND window = NULL;
    if (delay >= 0)
    {
        Run(NULL, delay, &wasForeground, &waitVisible);
        window = ShowInstallerWindow(instance);
    }
    Run(window, runMs > 0 ? runMs : 0, &wasForeground, &waitVisible);
    if (window)
    {
        if (!wasForeground)
            FakeLog("setup foreground=0");
        DestroyWindow(window);
    }
    FakeLogEnvironment("setup");
    FakeLog("setup end");
    return FakeEnvInt("PIVORA_FAKE_SETUP_EXIT", 0);
}
