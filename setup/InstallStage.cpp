#include "setup/InstallStage.h"
#include "base/Module.h"
#include "base/ScopedHandle.h"
#include "base/Text.h"
#include "dxversion/DxVersion.h"
#include "payload/ChildProcess.h"
#include "resources/resource.h"
#include "system/Registry.h"
#include "ui/DestinationDlg.h"
#include "ui/Message.h"
#include "ui/WaitDlg.h"

namespace {

const DWORD kLowestDirectX = 0x00090000;   // 9.0, as GetDXVersion reports it

// The DirectX setup program: xtsetup.ini (looked for in the Windows directory) names it
// relative to the parent of the program's folder. Empty when it is not there.
CText LocateDxSetup()
{
    CText located;
    char program[256];
    DWORD length = GetModuleFileNameA(NULL, program, sizeof(program));
    if (length == 0 || length >= sizeof(program))
        return located;

    CText folder = DirectoryOf(CText(program));
    folder.RemoveBackslash();
    CText parent = DirectoryOf(folder);
    parent.RemoveBackslash();

    char value[1024];
    GetPrivateProfileStringA("Setup", "DX", "Tools\\DirectX9.0c\\dxsetup.exe", value,
                             sizeof(value), "xtsetup.ini");
    CText candidate;
    candidate.Format("%s\\%s", parent.GetText() ? parent.GetText() : "", value);
    if (candidate.IsEmpty())
        return located;
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA(candidate.GetText(), &data));
    if (find.IsSet())
        located.Assign(candidate);
    return located;
}

} // namespace

bool RunInstallStage(const char* workDir, const CSetupOptions& options, const char* caption,
                     SetupRunState& state)
{
    CText dxSetup;
    DWORD version = 0;
    char versionText[24];
    if (GetDXVersion(&version, versionText, sizeof(versionText)) < 0 || version < kLowestDirectX)
    {
        state.offerDirectX = true;
        dxSetup = LocateDxSetup();
        if (dxSetup.IsEmpty())
        {
            ShowMessage(IDS_DXMISSING, MB_OK);
            return false;
        }
    }
    if (options.m_LaunchDX9)
    {
        // Whoever asks for the offer expects it to be made when a DirectX setup is at hand,
        // also with DirectX 9 present; without one there is nothing to offer.
        state.offerDirectX = true;
        if (dxSetup.IsEmpty())
            dxSetup = LocateDxSetup();
    }
    if (options.m_RunningAsSetupMgr)
        CRegistryKey(HKEY_LOCAL_MACHINE, SETUPMGR_KEY).DeleteValue(VALUE_ABORT);

    CRegistryKey key(HKEY_LOCAL_MACHINE, PIVORA_KEY);
    CText programsPath, path;
    key.ReadString(programsPath, VALUE_PROGRAMSPATH, "");
    key.ReadString(path, VALUE_PATH, "");
    CDestinationDlg destination(programsPath.GetText());
    if (path.IsEmpty() && destination.DoModal(NULL, 0) != IDOK)
    {
        state.stopped = true;
        state.showInterrupted = true;
        return true;
    }
    CText target(destination.m_Path);
    target.AddBackslash();
    RegWriteString(key.m_Root, key.m_SubKey, VALUE_PROGRAMSPATH,
                   target.GetText() ? target.GetText() : "");

    // From here to every return below; destroyed without Stop, it ends its thread all the same.
    CWaitDlg wait;
    wait.Start(true);
    const HWND waitWindow = wait.GetWindow();
    if (!options.m_NoWaitDlg && waitWindow)
        ShowWindow(waitWindow, SW_SHOW);

    if (!RunInnerInstaller(workDir, waitWindow))
        state.failed = true;

    DWORD canceled = 0;
    RegReadDword(key.m_Root, key.m_SubKey, VALUE_CANCELED, &canceled, 0);
    if (canceled != 0)
    {
        state.stopped = true;
        state.showInterrupted = true;
        return true;
    }

    if (!state.failed && !RunWmfDist(workDir))
        state.failed = true;
    if (state.failed)
        ShowMessage(IDS_FAILED, MB_OK, NULL, caption);   // under the caption the run loaded

    if (state.offerDirectX && !dxSetup.IsEmpty())
    {
        if (ShowMessage(IDS_DXOFFER, MB_YESNO) == IDYES)
        {
            RunAndWait(dxSetup.GetText(), dxSetup.ScratchCopy());
        }
        else
        {
            state.stopped = true;
            return true;
        }
    }

    wait.Stop(true, false, false);
    if (!state.failed)
        state.completed = true;
    return true;
}
