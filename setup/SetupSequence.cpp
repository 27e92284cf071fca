#include "setup/SetupSequence.h"
#include <shellapi.h>
#include <objbase.h>
#include "base/Module.h"
#include "base/Text.h"
#include "profile/ProfileDoc.h"
#include "resources/resource.h"
#include "payload/ChildProcess.h"
#include "setup/Hardening.h"
#include "setup/InstallStage.h"
#include "setup/Options.h"
#include "setup/RunState.h"
#include "system/Registry.h"
#include "system/Restart.h"
#include "ui/DestinationDlg.h"

namespace {

const char kMutexName[] = "Mutex_PivoraSetup";
const char kProfileName[] = "halvoro.ini";

// GetTempFileNameA names the work directory "exp", up to four hex digits, ".tmp".
const int kWorkDirectoryNameLength = 11;

// Creates the work directory "exp*.tmp" in the temporary folder. False when it cannot be made,
// also when the temporary folder is so deep that the paths of the files the run writes in the
// work directory would not fit: that is decided before anything is created.
bool MakeWorkDirectory(const char* tempFolder, char* workDir)
{
    lstrcpynA(workDir, tempFolder, MAX_PATH);
    if (!AddBackslashTo(workDir, MAX_PATH) ||
        lstrlenA(workDir) + kWorkDirectoryNameLength + 1 + kLongestWorkFileName >= MAX_PATH)
        return false;
    if (!GetTempFileNameA(tempFolder, "exp", 0, workDir))
    {
        lstrcpynA(workDir, tempFolder, MAX_PATH);
        AddBackslashTo(workDir, MAX_PATH);
        if (lstrlenA(workDir) + 7 >= MAX_PATH)
            return false;
        lstrcatA(workDir, "exp.tmp");
    }
    DeleteFileA(workDir);
    return CreateWorkDirectory(workDir);
}

void RemoveWorkDirectory(const char* workDir)
{
    // SHFileOperation wants the path without a trailing backslash and ended by two NULs.
    char from[MAX_PATH + 2];
    ZeroMemory(from, sizeof(from));
    lstrcpynA(from, workDir, MAX_PATH);
    RemoveBackslashFrom(from);
    SHFILEOPSTRUCTA op;
    ZeroMemory(&op, sizeof(op));
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.pTo = "";
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationA(&op);
}

// The run once the mutex is held: everything it makes is released before it returns.
int RunWithMutex(const char* commandLine)
{
    CSetupOptions options(commandLine);
    options.Parse();

    // Loaded at every start; no value of it is used.
    CProfileDoc profile;
    profile.Load(kProfileName, TRUE, kProfileFolderWindows);

    char tempFolder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(tempFolder), tempFolder);
    if (length == 0 || length >= sizeof(tempFolder))   // failed, or would not fit
        lstrcpyA(tempFolder, "C:\\");
    ULARGE_INTEGER available;
    bool queryOk = GetDiskFreeSpaceExA(tempFolder, &available, NULL, NULL) != FALSE;
    if (!TempSpaceIsEnough(queryOk, available.QuadPart))
    {
        ShowMessage(IDS_NOSPACE, MB_OK);
        return -1;
    }

    char workDir[MAX_PATH];
    if (!MakeWorkDirectory(tempFolder, workDir))
        return -1;

    CRegistryKey(HKEY_LOCAL_MACHINE, PIVORA_KEY_LOWER).DeleteValue(VALUE_REQUIREREBOOT);
    CoInitialize(NULL);   // stays initialised until the process ends

    char caption[256];
    LoadStringA(GetModuleInstance(), IDS_CAPTION, caption, sizeof(caption));

    SetupRunState state;
    // The room for the backslash was made sure of before the directory was made.
    if (FolderExists(workDir) && AddBackslashTo(workDir, sizeof(workDir)))
    {
        CRegistryKey(HKEY_LOCAL_MACHINE, PIVORA_KEY).DeleteValue(VALUE_CANCELED);

        if (!RunInstallStage(workDir, options, caption, state))
        {
            RemoveWorkDirectory(workDir);
            return -1;
        }
        if (state.stopped && options.m_RunningAsSetupMgr)
            RegWriteDword(HKEY_LOCAL_MACHINE, SETUPMGR_KEY, VALUE_ABORT, 1);
    }
    RemoveWorkDirectory(workDir);

    if (!options.m_Silent)
    {
        if (!options.m_RunningAsSetupMgr && state.completed)
        {
            if (ShowMessage(IDS_RESTART, MB_YESNO) == IDYES)
                RestartSystem();
        }
        else if (state.showInterrupted)
        {
            ShowMessage(IDS_INTERRUPTED, MB_OK);
        }
    }
    return 0;
}

} // namespace

bool TempSpaceIsEnough(bool queryOk, ULONGLONG availableToCaller)
{
    return queryOk && availableToCaller >= TEMP_SPACE_NEEDED;
}

int RunSetup(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR lpCmdLine, int /*nCmdShow*/)
{
    SetModuleInstance(hInstance);

    // One run at a time: a second start finds the mutex and ends at once, without a word.
    SECURITY_ATTRIBUTES security = {sizeof(security), NULL, TRUE};
    HANDLE mutex = CreateMutexA(&security, FALSE, kMutexName);
    if (!mutex)
        return -1;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
    {
        CloseHandle(mutex);
        return -1;
    }
    int exitCode = RunWithMutex(lpCmdLine);
    CloseHandle(mutex);
    return exitCode;
}
