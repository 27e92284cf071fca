#include "payload/ChildProcess.h"
#include "base/Log.h"
#include "base/Module.h"
#include "base/ResourceText.h"
#include "base/ScopedHandle.h"
#include "base/Text.h"
#include "payload/Archive.h"
#include "payload/OutputFile.h"
#include "payload/Unpack.h"
#include "resources/resource.h"
#include <string.h>

namespace
{
const char kArchiveName[] = "PivoraSetup_IS.bin";
const char kInstallerName[] = "setup.exe";
const char kWmfDistName[] = "wmfdist.exe";
// The code page of the installer's ANSI window title.
const UINT kJapaneseCodePage = 932;
// The installer's window title, the same as IDS_INSTALLER_TITLE of the string table, for when
// that cannot be read.
const wchar_t kInstallerTitle[] = L"Morvane \u30A4\u30F3\u30B9\u30C8\u30FC\u30E9";
static_assert(sizeof(kArchiveName) - 1 == kLongestWorkFileName &&
              sizeof(kInstallerName) <= sizeof(kArchiveName) &&
              sizeof(kWmfDistName) <= sizeof(kArchiveName), "the longest name of the work directory");
const DWORD kCreationFlags = CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP;
const DWORD kWindowSearchMs = 10000;
const DWORD kWindowSearchStepMs = 500;

// timeGetTime lives in winmm.dll, which is not a known DLL: it is loaded from the system folder
// by its full path on first use rather than imported, so that a winmm.dll planted beside the
// executable is never the one loaded.
typedef DWORD(WINAPI* TimeGetTimeProc)();

DWORD MilliSeconds()
{
    static TimeGetTimeProc s_pfnTimeGetTime;
    static bool s_bLookedUp;
    if (!s_bLookedUp)
    {
        s_bLookedUp = true;
        s_pfnTimeGetTime = reinterpret_cast<TimeGetTimeProc>(
            reinterpret_cast<void*>(GetSystemProcAddress("winmm.dll", "timeGetTime")));
    }
    return s_pfnTimeGetTime ? s_pfnTimeGetTime() : GetTickCount();
}

// workDir + name; false when the text could not be had whole.
bool JoinPath(CText& path, const char* workDir, const char* name)
{
    return path.Assign(workDir) && path.AppendWhole(name);
}

// A started child program: its process and its first thread, its id and when it started.
struct CChildProcess
{
    CKernelHandle m_hProcess;
    CKernelHandle m_hThread;
    DWORD m_dwProcessId = 0;
    DWORD m_dwStarted = 0;
};

bool StartProcess(const char* applicationName, char* commandLine, const wchar_t* environment,
                  const char* currentDirectory, CChildProcess& child)
{
    LogEvent("starting %s: %s", applicationName, commandLine);
    if (currentDirectory)
        LogEvent("its current folder: %s", currentDirectory);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));
    const DWORD flags = kCreationFlags | (environment ? CREATE_UNICODE_ENVIRONMENT : 0);
    if (!CreateProcessA(applicationName, commandLine, NULL, NULL, FALSE, flags,
                        const_cast<wchar_t*>(environment), currentDirectory, &startup, &process))
    {
        LogFailure("CreateProcessA", GetLastError(), "%s not started", applicationName);
        return false;
    }
    child.m_hProcess.Reset(process.hProcess);
    child.m_hThread.Reset(process.hThread);
    child.m_dwProcessId = process.dwProcessId;
    child.m_dwStarted = MilliSeconds();
    LogEvent("started: process id %lu", process.dwProcessId);
    return true;
}

void WaitAndClose(CChildProcess& child)
{
    WaitForSingleObject(child.m_hProcess.Get(), INFINITE);
    DWORD exitCode = 0;
    if (GetExitCodeProcess(child.m_hProcess.Get(), &exitCode))
        LogEvent("process %lu ended with exit code %lu (0x%08lX) after %lu ms", child.m_dwProcessId,
                 exitCode, exitCode, MilliSeconds() - child.m_dwStarted);
    else
        LogFailure("GetExitCodeProcess", GetLastError(), "process %lu ended", child.m_dwProcessId);
    child.m_hThread.Reset();
    child.m_hProcess.Reset();
}

// The installer's window may take a while to show; it is looked for every half second for ten
// seconds and pulled to the front half a second after it was found. Without it the run goes on.
void BringInstallerForward()
{
    // Looked for in UTF-16, as a Unicode installer window is titled on every ANSI code page. An
    // ANSI installer window titled with the code page 932 bytes reads as those bytes take it on
    // the system's code page: where that is another, only the same bytes find it.
    wchar_t title[256];
    if (!LoadStringOr(GetModuleInstance(), IDS_INSTALLER_TITLE, kInstallerTitle, title,
                      sizeof(title) / sizeof(title[0])))
        return;
    char ansiTitle[512] = "";
    if (GetACP() != kJapaneseCodePage &&
        !WideCharToMultiByte(kJapaneseCodePage, 0, title, -1, ansiTitle, sizeof(ansiTitle), NULL,
                             NULL))
        ansiTitle[0] = '\0';
    const DWORD start = MilliSeconds();
    for (;;)
    {
        HWND window = FindWindowW(NULL, title);
        if (!window && ansiTitle[0])
            window = FindWindowA(NULL, ansiTitle);
        Sleep(kWindowSearchStepMs);
        if (window)
        {
            LogEvent("installer window found and brought to the front: %s",
                     YesNo(BringToForeground(window)));
            return;
        }
        if (MilliSeconds() - start >= kWindowSearchMs)
        {
            LogEvent("installer window not found within %lu ms", kWindowSearchMs);
            return;
        }
    }
}
} // namespace

bool RunAndWait(const char* program, char* commandLine, const wchar_t* environment,
                const char* currentDirectory)
{
    // The program is named on its own, so that a path with blanks is never tried piece by piece
    // ("C:\Users\John.exe" for "C:\Users\John Doe\...").
    CChildProcess child;
    if (!StartProcess(program, commandLine, environment, currentDirectory, child))
        return false;
    WaitAndClose(child);
    return true;
}

PayloadStep RunInnerInstaller(const char* workDir, HWND waitWindow, const wchar_t* environment)
{
    CText archivePath;
    if (!JoinPath(archivePath, workDir, kArchiveName))
        return PayloadStepFailed;
    HRESULT hr = UnpackResource(IDR_ARCHIVE, archivePath.GetText());
    if (SUCCEEDED(hr))
    {
        hr = ExtractArchive(archivePath.GetText(), workDir);
        if (FAILED(hr))
            LogEvent("archive not extracted (0x%08lX): the installer does not run", hr);
    }
    if (FAILED(hr))
        return IsOutOfRoom(hr) ? PayloadStepNoSpace : PayloadStepFailed;

    // The command line is the bare path; the program is named on its own as in RunAndWait.
    CText programPath;
    if (!JoinPath(programPath, workDir, kInstallerName))
        return PayloadStepFailed;
    CChildProcess child;
    if (!StartProcess(programPath.GetText(), programPath.ScratchCopy(), environment, workDir, child))
        return PayloadStepFailed;

    BringInstallerForward();
    const bool hidden = waitWindow && IsWindowVisible(waitWindow);
    if (hidden)
        ShowWindow(waitWindow, SW_HIDE);
    WaitAndClose(child);
    if (hidden)
        ShowWindow(waitWindow, SW_SHOW);

    // The archive stays; it goes with the work directory at the end of the run.
    if (!DeleteFileA(programPath.GetText()))
        LogFailure("DeleteFileA", GetLastError(), "%s stays", programPath.GetText());
    return PayloadStepRan;
}

PayloadStep RunWmfDist(const char* workDir, const wchar_t* environment)
{
    CText path;
    if (!JoinPath(path, workDir, kWmfDistName))
        return PayloadStepFailed;
    const HRESULT unpacked = UnpackResource(IDR_WMFDIST, path.GetText());
    if (FAILED(unpacked))
        return IsOutOfRoom(unpacked) ? PayloadStepNoSpace : PayloadStepFailed;
    CText commandLine;
    bool result = commandLine.Format("\"%s\" /Q", path.GetText()) &&
                  RunAndWait(path.GetText(), commandLine.ScratchCopy(), environment, workDir);
    DeleteFileA(path.GetText());
    return result ? PayloadStepRan : PayloadStepFailed;
}

bool BringToForeground(HWND window)
{
    const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), NULL);
    const DWORD targetThread = GetWindowThreadProcessId(window, NULL);
    if (foregroundThread == 0 || targetThread == 0)
        return false;
    if (foregroundThread == targetThread)
    {
        SetForegroundWindow(window);
        return true;
    }

    // Joined to the foreground thread's input, and with the lock time-out at 0 for the moment,
    // the call is allowed to take the foreground from another process. The time-out is put back
    // only when it could be read, so a failed read never leaves it at 0 for the whole system.
    const BOOL attached = AttachThreadInput(targetThread, foregroundThread, TRUE);
    DWORD savedTimeout = 0;
    const BOOL haveTimeout =
        SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &savedTimeout, 0);
    if (haveTimeout)
        SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<PVOID>(0), 0);
    SetForegroundWindow(window);
    if (haveTimeout)
        SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                              reinterpret_cast<PVOID>(static_cast<DWORD_PTR>(savedTimeout)), 0);
    if (attached)
    {
        AttachThreadInput(targetThread, foregroundThread, FALSE);
        // Wine hands the activation to the detached thread's new input state and leaves the
        // foreground input without an active window; asking once more puts it in front there.
        if (GetForegroundWindow() != window)
            SetForegroundWindow(window);
    }
    return true;
}
