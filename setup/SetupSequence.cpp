#include "setup/SetupSequence.h"
#include <objbase.h>
#include "base/Module.h"
#include "base/ScopedHandle.h"
#include "base/Text.h"
#include "profile/ProfileDoc.h"
#include "resources/resource.h"
#include "setup/InstallStage.h"
#include "setup/Options.h"
#include "setup/RunState.h"
#include "setup/WorkDirectory.h"
#include "system/Registry.h"
#include "system/Restart.h"
#include "ui/Message.h"

namespace {

const char kMutexName[] = "Mutex_PivoraSetup";
const char kProfileName[] = "halvoro.ini";

// The run once the mutex is held: everything it makes is released before it returns.
int RunWithMutex(const char* commandLine)
{
    CSetupOptions options(commandLine);
    options.Parse();

    // Loaded at every start; no value of it is used.
    CProfileDoc profile;
    profile.Load(kProfileName, TRUE, kProfileFolderWindows);

    char tempFolder[MAX_PATH];
    GetTemporaryFolder(tempFolder);
    ULARGE_INTEGER available;
    bool queryOk = GetDiskFreeSpaceExA(tempFolder, &available, NULL, NULL) != FALSE;
    if (!TempSpaceIsEnough(queryOk, available.QuadPart))
    {
        ShowMessage(IDS_NOSPACE, MB_OK);
        return -1;
    }

    CWorkDirectory workDir;
    if (!workDir.Create(tempFolder))
        return -1;

    CRegistryKey(HKEY_LOCAL_MACHINE, PIVORA_KEY_LOWER).DeleteValue(VALUE_REQUIREREBOOT);
    CoInitialize(NULL);   // stays initialised until the process ends

    char caption[256];
    LoadStringA(GetModuleInstance(), IDS_CAPTION, caption, sizeof(caption));

    SetupRunState state;
    if (workDir.Check())
    {
        CRegistryKey(HKEY_LOCAL_MACHINE, PIVORA_KEY).DeleteValue(VALUE_CANCELED);

        if (!RunInstallStage(workDir.GetPath(), options, caption, state))
        {
            workDir.Remove();
            return -1;
        }
        if (state.stopped && options.m_RunningAsSetupMgr)
            RegWriteDword(HKEY_LOCAL_MACHINE, SETUPMGR_KEY, VALUE_ABORT, 1);
    }
    workDir.Remove();

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

int RunSetup(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR lpCmdLine,
             int /*nCmdShow*/)
{
    // One run at a time: a second start finds the mutex and ends at once, without a word.
    SECURITY_ATTRIBUTES security = {sizeof(security), NULL, TRUE};
    CKernelHandle mutex(CreateMutexA(&security, FALSE, kMutexName));
    if (!mutex.IsSet() || GetLastError() == ERROR_ALREADY_EXISTS)
        return -1;
    return RunWithMutex(lpCmdLine);
}
