// Demo inner installer for the default payload of PivoraSetup.exe. It shows the destination
// that PivoraSetup.exe recorded (ProgramsPath), copies its sample files there on Install, and
// leaves CANCELED = 1 for PivoraSetup.exe when the user cancels.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include "DemoResource.h"

namespace
{
const char kPivoraKey[] = "Software\\Halvoro\\PIVORA";

// Exit codes in the Windows Installer manner; PivoraSetup.exe does not look at them.
const int kExitInstalled = 0;
const int kExitCancelled = 1602;   // ERROR_INSTALL_USEREXIT
const int kExitFailed = 1603;      // ERROR_INSTALL_FAILURE

char g_szDestination[MAX_PATH];

// ProgramsPath as PivoraSetup.exe wrote it; empty when missing or not a string.
void ReadDestination(char* buffer, DWORD size)
{
    buffer[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    DWORD bytes = size - 1;
    if (RegQueryValueExA(key, "ProgramsPath", NULL, &type, reinterpret_cast<BYTE*>(buffer), &bytes)
            != ERROR_SUCCESS
        || type != REG_SZ)
        bytes = 0;
    buffer[bytes < size ? bytes : size - 1] = '\0';
    RegCloseKey(key);
}

void WriteCancelled()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPivoraKey, 0, NULL, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key, NULL)
        != ERROR_SUCCESS)
        return;
    DWORD value = 1;
    RegSetValueExA(key, "CANCELED", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

void ShowError(HWND owner, UINT id, const char* detail)
{
    wchar_t caption[128];
    wchar_t format[256];
    wchar_t wideDetail[MAX_PATH];
    wchar_t text[MAX_PATH + 256];
    LoadStringW(NULL, IDS_DEMO_CAPTION, caption, sizeof(caption) / sizeof(caption[0]));
    LoadStringW(NULL, id, format, sizeof(format) / sizeof(format[0]));
    if (!MultiByteToWideChar(CP_ACP, 0, detail ? detail : "", -1, wideDetail, MAX_PATH))
        wideDetail[0] = L'\0';
    wnsprintfW(text, sizeof(text) / sizeof(text[0]), format, wideDetail);
    MessageBoxW(owner, text, caption, MB_OK | MB_ICONERROR);
}

// Copies one sample file from this program's folder to the same relative path under the
// destination, making the folders on the way.
bool InstallFile(const char* name)
{
    char source[MAX_PATH];
    char target[MAX_PATH];
    char folder[MAX_PATH];
    if (!GetModuleFileNameA(NULL, source, MAX_PATH) || !PathRemoveFileSpecA(source)
        || !PathAppendA(source, name))
        return false;
    lstrcpynA(target, g_szDestination, MAX_PATH);
    if (!PathAppendA(target, name))
        return false;
    lstrcpynA(folder, target, MAX_PATH);
    PathRemoveFileSpecA(folder);
    int made = SHCreateDirectoryExA(NULL, folder, NULL);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return false;
    return CopyFileA(source, target, FALSE) != FALSE;
}

// Install: every sample file, or the first one that failed.
void OnInstall(HWND dlg)
{
    if (!g_szDestination[0])
    {
        ShowError(dlg, IDS_DEMO_NO_FOLDER, NULL);
        EndDialog(dlg, kExitFailed);
        return;
    }
    char name[MAX_PATH];
    for (UINT id = IDS_DEMO_FILE_FIRST; LoadStringA(NULL, id, name, sizeof(name)) > 0; ++id)
    {
        if (!InstallFile(name))
        {
            ShowError(dlg, IDS_DEMO_COPY_FAILED, name);
            EndDialog(dlg, kExitFailed);
            return;
        }
    }
    EndDialog(dlg, kExitInstalled);
}

void OnCancel(HWND dlg)
{
    WriteCancelled();
    EndDialog(dlg, kExitCancelled);
}

INT_PTR CALLBACK DemoDialogProc(HWND dlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:   // show where the files will go; Install is the default button
    {
        wchar_t notSet[64];
        if (g_szDestination[0])
            SetDlgItemTextA(dlg, IDC_DEMO_DESTINATION, g_szDestination);
        else if (LoadStringW(NULL, IDS_DEMO_NOT_SET, notSet, sizeof(notSet) / sizeof(notSet[0])) > 0)
            SetDlgItemTextW(dlg, IDC_DEMO_DESTINATION, notSet);
        SetForegroundWindow(dlg);
        return TRUE;
    }
    case WM_COMMAND:      // IDOK: Install (also Enter); IDCANCEL: Cancel, Esc or the close box
        if (LOWORD(wParam) == IDOK)
            OnInstall(dlg);
        else if (LOWORD(wParam) == IDCANCEL)
            OnCancel(dlg);
        return TRUE;
    }
    return FALSE;
}
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    ReadDestination(g_szDestination, sizeof(g_szDestination));
    // A Unicode dialog: its Japanese texts read right whatever the ANSI code page; the files and
    // the destination keep their ANSI names, as PivoraSetup.exe writes them.
    INT_PTR result = DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_DEMO_SETUP), NULL, DemoDialogProc, 0);
    return result < 0 ? kExitFailed : static_cast<int>(result);
}
