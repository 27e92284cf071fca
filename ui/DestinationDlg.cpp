#include "ui/DestinationDlg.h"
#include "base/AnsiPath.h"
#include "base/Log.h"
#include "base/ResourceText.h"
#include "resources/resource.h"
#include "ui/Folder.h"
#include "ui/Message.h"
#include <shlobj.h>

CDestinationDlg::CDestinationDlg(const char* initialFolder)
    : CBaseDlg(IDD_DESTINATION), m_Path(initialFolder), m_hEdit(NULL)
{
}

CDestinationDlg::~CDestinationDlg()
{
}

void CDestinationDlg::OnInitDialog()
{
    m_hEdit = GetDlgItem(GetHandle(), IDC_FOLDER_EDIT);

    char programFiles[MAX_PATH];
    programFiles[0] = '\0';
    LPITEMIDLIST list = NULL;
    if (SUCCEEDED(SHGetSpecialFolderLocation(GetHandle(), CSIDL_PROGRAM_FILES, &list)) && list &&
        !SHGetPathFromIDListA(list, programFiles))
        programFiles[0] = '\0';
    CoTaskMemFree(list);

    // Without the Program Files folder the proposal is the bare relative "Halvoro\Pivora".
    CText proposal(programFiles);
    proposal.AddBackslash();
    proposal.Append("Halvoro\\Pivora");
    const char* shown = m_Path.IsEmpty() ? proposal.GetText() : m_Path.GetText();
    LogEvent("destination dialog: proposes %s", shown ? shown : "");
    SetWindowTextA(m_hEdit, shown);
}

// The folder in the edit control as the ANSI code page names it exactly; false (and the empty
// text) for a name with a character it lacks, which would reach Windows as another name.
bool CDestinationDlg::GetTypedFolder(char* text)
{
    wchar_t typed[MAX_PATH];
    typed[0] = L'\0';
    GetWindowTextW(m_hEdit, typed, 259);
    return ToAnsiExact(typed, text, MAX_PATH);
}

void CDestinationDlg::OnCommand(WORD id, WORD /*code*/)
{
    if (id != IDC_BROWSE)
        return;
    char current[MAX_PATH];
    GetTypedFolder(current);
    char chosen[MAX_PATH];
    // The same text as IDS_BROWSE_TITLE, for when the string table cannot be read.
    static const wchar_t kBrowseTitle[] = L"\u30BB\u30C3\u30C8\u30A2\u30C3\u30D7\u5148\u3092"
                                          L"\u9078\u629E\u3057\u3066\u304F\u3060\u3055\u3044\u3002";
    wchar_t title[256];
    LoadStringOr(m_hInstance, IDS_BROWSE_TITLE, kBrowseTitle, title,
                 sizeof(title) / sizeof(title[0]));
    const BrowseResult result = BrowseForFolder(GetHandle(), title, current, chosen, 0);
    if (result == BrowseUnnamable)
    {
        LogEvent("destination dialog: the chosen folder has a name that code page %u lacks",
                 GetACP());
        ShowMessage(IDS_BADPATH, MB_OK | MB_ICONINFORMATION, GetHandle());
    }
    else if (chosen[0])
    {
        SetWindowTextA(m_hEdit, chosen);
    }
}

void CDestinationDlg::OnOK()
{
    char text[MAX_PATH];
    ZeroMemory(text, sizeof(text));

    // Each refusal leaves the dialog open for the user to correct the path.
    if (!GetTypedFolder(text) || !ValidateFolderPath(text, false) ||
        !CreateFolderPath(text, false))
    {
        LogEvent("destination dialog: %s refused: not a valid folder, or it cannot be made", text);
        ShowMessage(IDS_BADPATH, MB_OK | MB_ICONINFORMATION, GetHandle());
        return;
    }
    if (!HasSetupRoom(text))
    {
        LogEvent("destination dialog: %s refused: less than 100 MB free, or unknown", text);
        ShowMessage(IDS_DISKFULL, MB_OK, NULL);
        return;
    }
    // The path exactly as typed: no backslash is added or removed.
    if (!m_Path.Assign(text))
        return;
    LogEvent("destination dialog: %s confirmed", text);
    End(IDOK);
}
