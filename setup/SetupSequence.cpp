#include "setup/SetupSequence.h"
#include <objbase.h>
#include "base/Log.h"
#include "base/Module.h"
#include "base/ScopedHandle.h"
#include "base/Text.h"
#include "profile/ProfileDoc.h"
#include "resources/resource.h"
#include "setup/Hardening.h"
#include "setup/InstallStage.h"
#include "setup/Options.h"
#include "setup/RunState.h"
#include "setup/WorkDirectoryRecord.h"
#include "setup/TempSpace.h"
#include "setup/WorkDirectory.h"
#include "system/Registry.h"
#include "system/Restart.h"
#include "ui/Message.h"

namespace {

const char kMutexName[] = "Mutex_PivoraSetup";
const char kProfileName[] = "halvoro.ini";

// The ends of a run as the log names them; those of the install stage follow its RunEnd order.
const char* const kStageEnds[] = {"completed", "setup failed", "destination dialog cancelled",
                                  "installation cancelled by the installer",
                                  "DirectX setup declined",
                                  "temporary space ran out while writing",
                                  "DirectX too old and no DirectX setup at hand"};

int EndRun(const char* end, int exitCode)
{
    LogEvent("end: %s; exit code %d", end, exitCode);
    return exitCode;
}

// The version of the program from its own version record, without version.dll.
void LogProgramVersion()
{
    HMODULE module = GetModuleInstance();
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));   // RT_VERSION
    HGLOBAL loaded = info ? LoadResource(module, info) : NULL;
    const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : NULL;
    const DWORD size = info ? SizeofResource(module, info) : 0;
    for (DWORD i = 0; bytes && i + sizeof(VS_FIXEDFILEINFO) <= size; i += 4)
    {
        const VS_FIXEDFILEINFO* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(bytes + i);
        if (fixed->dwSignature == 0xFEEF04BD)
        {
            LogEvent("PivoraSetup %lu.%lu.%lu.%lu started", fixed->dwFileVersionMS >> 16,
                     fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                     fixed->dwFileVersionLS & 0xFFFF);
            return;
        }
    }
    LogEvent("PivoraSetup (no version record) started");
}

// Windows' own version: RtlGetVersion tells it as it is, where GetVersionEx answers what the
// manifest lets the program know.
void LogWindowsVersion()
{
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    RtlGetVersionFn getVersion = GetSystemFunction<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (getVersion && getVersion(&info) == 0)
        LogEvent("Windows %lu.%lu.%lu; ANSI code page %u; elevated: %s", info.dwMajorVersion,
                 info.dwMinorVersion, info.dwBuildNumber, GetACP(), YesNo(IsProcessElevated()));
    else
        LogEvent("Windows version unknown; ANSI code page %u; elevated: %s", GetACP(),
                 YesNo(IsProcessElevated()));
}

// The log that /Log asks for: the file it names (relative to the current directory), or a new
// file named by the time of the start in the temporary folder. Whoever starts the elevated run
// chooses its command line: it then writes only to a new file named *.log or to an earlier log
// of this program, never into a file that only administrators may change (a batch file of the
// StartUp folder, a script that a scheduled task runs).
void OpenRunLog(const CSetupOptions& options)
{
    if (!options.m_Log)
        return;
    wchar_t path[MAX_PATH];
    if (options.m_LogFile[0])
    {
        const DWORD length = GetFullPathNameW(options.m_LogFile, MAX_PATH, path, NULL);
        if (length == 0 || length >= MAX_PATH)
            return;
        OpenLog(path, IsProcessElevated() ? kLogRunLogFile : kLogAnyFile);
    }
    else
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        const DWORD length = GetTempPathW(MAX_PATH, path);
        if (length == 0 || length + 32 >= MAX_PATH)
            return;
        wsprintfW(path + length, L"PivoraSetup-%04u%02u%02u-%02u%02u%02u.log", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
        OpenLog(path, kLogNewFile);
    }
    LogProgramVersion();
    LogWide("command line: ", GetCommandLineW());
    LogEvent("switches: RunningAsSetupMgr %s, Silent %s, NoWaitDlg %s, LaunchDX9 %s, Log %s",
             YesNo(options.m_RunningAsSetupMgr), YesNo(options.m_Silent),
             YesNo(options.m_NoWaitDlg), YesNo(options.m_LaunchDX9), YesNo(options.m_Log));
    LogWide("log file: ", path);
    LogWindowsVersion();
}

// The end of a run whose temporary folder has too little space, before anything was made.
int EndForSpace()
{
    ShowMessage(IDS_NOSPACE, MB_OK);
    return EndRun("too little temporary space", -1);
}

// The run once the mutex is held: everything it makes is released before it returns.
int RunWithMutex(const CSetupOptions& options)
{
    // What a killed run left behind goes first: its space counts for this run too.
    RemoveRecordedWorkDirectory();

    // Loaded at every start; no value of it is used.
    CProfileDoc profile;
    profile.Load(kProfileName, TRUE, kProfileFolderWindows);

    char tempFolder[MAX_PATH];
    GetTemporaryFolder(tempFolder);
    const ULONGLONG needed = TempSpaceNeeded();
    if (!TempFolderHasRoom(tempFolder, needed))
        return EndForSpace();

    CWorkDirectory workDir;
    if (!workDir.Create(tempFolder))
    {
        // The user's temporary folder is no safe place for an elevated run (or none could be
        // made there): the Windows temporary folder is, as only administrators and the system
        // can change its path. A run that is not elevated has no other place.
        if (!IsProcessElevated() || !GetWindowsTemporaryFolder(tempFolder))
            return EndRun("no work directory", -1);
        LogEvent("work directory: not in the user's temporary folder; in the Windows temporary "
                 "folder %s instead", tempFolder);
        if (!TempFolderHasRoom(tempFolder, needed))
            return EndForSpace();
        if (!workDir.Create(tempFolder))
            return EndRun("no work directory", -1);
    }

    LogEvent("RequireReboot %s", CRegistryKey(HKEY_LOCAL_MACHINE, PIVORA_KEY_LOWER)
                                     .DeleteValue(VALUE_REQUIREREBOOT) ? "deleted" : "was not there");
    CoInitialize(NULL);   // stays initialised until the process ends

    // Loaded wide: the caption reaches the screen right on every ANSI code page.
    wchar_t caption[256];
    LoadStringW(GetModuleInstance(), IDS_CAPTION, caption, sizeof(caption) / sizeof(caption[0]));

    SetupRunState state;
    const char* end = "work directory gone after it was made";
    if (workDir.Check())
    {
        LogEvent("CANCELED %s", CRegistryKey(HKEY_LOCAL_MACHINE, PIVORA_KEY)
                                    .DeleteValue(VALUE_CANCELED) ? "deleted" : "was not there");

        if (!RunInstallStage(workDir.GetPath(), options, caption, state))
        {
            workDir.Remove();
            return EndRun(kStageEnds[RunEndNoDirectX], -1);
        }
        end = kStageEnds[state.end];
        if (state.stopped && options.m_RunningAsSetupMgr)
            LogEvent("Abort = 1 written for the setup manager: %s",
                     YesNo(RegWriteDword(HKEY_LOCAL_MACHINE, SETUPMGR_KEY, VALUE_ABORT, 1) != 0));
    }
    else
    {
        const char* path = workDir.GetPath();
        LogEvent("work directory: %.*s is gone", lstrlenA(path) - 1, path);   // no backslash
    }
    workDir.Remove();

    if (!options.m_Silent)
    {
        if (!options.m_RunningAsSetupMgr && state.completed)
        {
            if (ShowMessage(IDS_RESTART, MB_YESNO) == IDYES)
            {
                // A restart under way may end the process before its end is told.
                LogEvent("restart of Windows asked for");
                RestartSystem();
            }
        }
        else if (state.showInterrupted)
        {
            ShowMessage(IDS_INTERRUPTED, MB_OK);
        }
    }
    return EndRun(end, 0);
}

} // namespace

int RunSetup(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR lpCmdLine,
             int /*nCmdShow*/)
{
    // The switches are read first, so that the log also tells of a run that ends at the mutex;
    // reading them changes nothing.
    CSetupOptions options(lpCmdLine);
    options.Parse();
    OpenRunLog(options);

    // One run at a time: a second start finds the mutex and ends at once, without a word.
    SECURITY_ATTRIBUTES security = {sizeof(security), NULL, TRUE};
    CKernelHandle mutex(CreateMutexA(&security, FALSE, kMutexName));
    const DWORD error = GetLastError();
    int exitCode;
    if (!mutex.IsSet() || error == ERROR_ALREADY_EXISTS)
    {
        if (mutex.IsSet())
            LogEvent("another copy of the setup runs: the mutex %s exists", kMutexName);
        else
            LogFailure("CreateMutexA", error, "mutex %s", kMutexName);
        exitCode = EndRun("second copy running", -1);
    }
    else
    {
        exitCode = RunWithMutex(options);
    }
    CloseLog();
    return exitCode;
}
