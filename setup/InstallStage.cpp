#include "setup/InstallStage.h"
#include "base/AnsiPath.h"
#include "base/FinalPath.h"
#include "base/Log.h"
#include "base/Module.h"
#include "base/ScopedHandle.h"
#include "base/Text.h"
#include "dxversion/DxVersion.h"
#include "payload/ChildProcess.h"
#include "resources/resource.h"
#include "setup/ChildEnvironment.h"
#include "system/Registry.h"
#include "ui/DestinationDlg.h"
#include "ui/Message.h"
#include "ui/WaitDlg.h"

namespace {

const DWORD kLowestDirectX = 0x00090000;   // 9.0, as GetDXVersion reports it

// The DirectX setup runs elevated, and so does any DLL beside it: it is run only from read-only
// media, a disc drive whose volume cannot be written (a disc, or a mounted disc image). Anywhere
// else (beside a program downloaded to the user's Downloads, a copy on a fixed disk) a process of
// the user could have put it there, or a DLL beside it. The file's own path, as its volume names
// it, into located; false when it is not on such media (the log says why).
bool IsOnReadOnlyMedia(const char* candidate, CText& located)
{
    CKernelHandle file(CreateFileA(candidate, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL));
    wchar_t path[MAX_PATH + 8];
    if (!file.IsSet() || !GetFinalPath(file.Get(), path, MAX_PATH + 8))
    {
        LogFailure(file.IsSet() ? "GetFinalPathNameByHandleW" : "CreateFileA", GetLastError(),
                   "DirectX setup: %s not used", candidate);
        return false;
    }
    const UINT type = GetDriveTypeOf(path);
    DWORD flags = 0;
    if (type != DRIVE_CDROM ||
        !GetVolumeInformationByHandleW(file.Get(), NULL, 0, NULL, NULL, &flags, NULL, 0) ||
        !(flags & FILE_READ_ONLY_VOLUME))
    {
        LogEvent("DirectX setup: %s is on no read-only media (drive type %u, read-only %s); not "
                 "used", candidate, type, YesNo((flags & FILE_READ_ONLY_VOLUME) != 0));
        return false;
    }
    char ansi[MAX_PATH];
    if (!GetAnsiPath(path, ansi, MAX_PATH) || !located.Assign(ansi))
    {
        LogWide("DirectX setup: no form of its path fits the code page: ", path);
        return false;
    }
    return true;
}

// The DirectX setup program: xtsetup.ini (looked for in the Windows directory) names it
// relative to the parent of the program's folder. Empty when it is not there, or not on
// read-only media. The program's path is taken as the ANSI code page names it exactly (the
// media below a folder whose name it lacks), or in its short form.
CText LocateDxSetup()
{
    CText located;
    wchar_t wide[MAX_PATH];
    char program[256];
    DWORD length = GetModuleFileNameW(NULL, wide, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
    {
        LogFailure("GetModuleFileNameW", length ? ERROR_INSUFFICIENT_BUFFER : GetLastError(),
                   "DirectX setup: the program's path is unknown");
        return located;
    }
    if (!GetAnsiPath(wide, program, sizeof(program)))
    {
        LogWide("DirectX setup: no form of the program's path fits code page: ", wide);
        return located;
    }

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
    LogEvent("DirectX setup: DX of xtsetup.ini (or its default) is %s; looked for as %s", value,
             candidate.GetText());
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA(candidate.GetText(), &data));
    if (!find.IsSet())
        LogFailure("FindFirstFileA", GetLastError(), "DirectX setup: %s not found",
                   candidate.GetText());
    else
        IsOnReadOnlyMedia(candidate.GetText(), located);
    return located;
}

// Records a payload step that did not run its program.
void NoteFailure(PayloadStep step, SetupRunState& state)
{
    if (step == PayloadStepRan)
        return;
    state.failed = true;
    state.noSpace = step == PayloadStepNoSpace;
}

RunEnd FailedEnd(const SetupRunState& state)
{
    return state.noSpace ? RunEndNoSpace : RunEndFailed;
}

} // namespace

bool RunInstallStage(const char* workDir, const CSetupOptions& options, const wchar_t* caption,
                     SetupRunState& state)
{
    CText dxSetup;
    DWORD version = 0;
    char versionText[24];
    if (GetDXVersion(&version, versionText, sizeof(versionText)) < 0 || version < kLowestDirectX)
    {
        LogEvent("DirectX: older than 9.0; the DirectX setup is looked for");
        state.offerDirectX = true;
        dxSetup = LocateDxSetup();
        if (dxSetup.IsEmpty())
        {
            ShowMessage(IDS_DXMISSING, MB_OK);
            state.end = RunEndNoDirectX;
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
    if (!dxSetup.IsEmpty())
        LogEvent("DirectX setup: %s", dxSetup.GetText());
    if (options.m_RunningAsSetupMgr)
        LogEvent("Abort %s", CRegistryKey(HKEY_LOCAL_MACHINE, SETUPMGR_KEY).DeleteValue(VALUE_ABORT)
                                 ? "deleted" : "was not there");

    CRegistryKey key(HKEY_LOCAL_MACHINE, PIVORA_KEY);
    CText programsPath, path;
    key.ReadString(programsPath, VALUE_PROGRAMSPATH, "");
    key.ReadString(path, VALUE_PATH, "");
    LogEvent("ProgramsPath read: \"%s\"; Path read: \"%s\"", programsPath.GetText() ? programsPath.GetText() : "",
             path.GetText() ? path.GetText() : "");
    CDestinationDlg destination(programsPath.GetText());
    if (!path.IsEmpty())
    {
        LogEvent("destination: settled by Path; no dialog");
    }
    else
    {
        const INT_PTR result = destination.DoModal(NULL, 0);
        if (result != IDOK)
        {
            LogEvent("destination dialog ended without a folder (%d)", static_cast<int>(result));
            state.stopped = true;
            state.showInterrupted = true;
            state.end = RunEndDestinationCancelled;
            return true;
        }
    }
    CText target(destination.m_Path);
    target.AddBackslash();
    const char* written = target.GetText() ? target.GetText() : "";
    LogEvent("ProgramsPath written: \"%s\": %s", written,
             YesNo(RegWriteString(key.m_Root, key.m_SubKey, VALUE_PROGRAMSPATH, written) != 0));

    // From here to every return below; destroyed without Stop, it ends its thread all the same.
    CWaitDlg wait;
    wait.Start(true);
    const HWND waitWindow = wait.GetWindow();
    LogEvent("wait dialog started: shown %s", YesNo(!options.m_NoWaitDlg && waitWindow));
    if (!options.m_NoWaitDlg && waitWindow)
        ShowWindow(waitWindow, SW_SHOW);

    // The programs started from here on take no orders from the user's environment settings.
    CChildEnvironment environment;
    const bool haveEnvironment = environment.Build(workDir);
    NoteFailure(haveEnvironment ? RunInnerInstaller(workDir, waitWindow, environment.GetBlock())
                                : PayloadStepFailed,
                state);

    DWORD canceled = 0;
    RegReadDword(key.m_Root, key.m_SubKey, VALUE_CANCELED, &canceled, 0);
    LogEvent("CANCELED read: %lu", canceled);
    if (canceled != 0)
    {
        state.stopped = true;
        state.showInterrupted = true;
        state.end = RunEndInstallerCancelled;
        return true;
    }

    if (!state.failed)
        NoteFailure(RunWmfDist(workDir, environment.GetBlock()), state);
    // Under the caption the run loaded. A drive that filled up is no damaged setup file: the
    // user is told of the space, which another try with more room can cure.
    if (state.failed)
        ShowMessage(state.noSpace ? IDS_NOSPACE : IDS_FAILED, MB_OK, NULL, caption);

    if (state.offerDirectX && !dxSetup.IsEmpty())
    {
        if (ShowMessage(IDS_DXOFFER, MB_YESNO) == IDYES)
        {
            // Started in its own folder, where it finds its files.
            CText folder = DirectoryOf(dxSetup);
            if (haveEnvironment)
                RunAndWait(dxSetup.GetText(), dxSetup.ScratchCopy(), environment.GetBlock(),
                           folder.GetText());
            else
                LogEvent("DirectX setup: not started without an environment of its own");
        }
        else
        {
            state.stopped = true;
            state.end = state.failed ? FailedEnd(state) : RunEndDirectXDeclined;
            return true;
        }
    }

    wait.Stop(true, false, false);
    if (!state.failed)
        state.completed = true;
    state.end = state.failed ? FailedEnd(state) : RunEndCompleted;
    return true;
}
