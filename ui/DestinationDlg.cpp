#include "ui/DestinationDlg.h"
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
    SetWindowTextA(m_hEdit, m_Path.IsEmpty() ? proposal.GetText() : m_Path.GetText());
}

void CDestinationDlg::OnCommand(WORD id, WORD /*code*/)
{
    if (id != IDC_BROWSE)
        return;
    char current[MAX_PATH];
    current[0] = '\0';
    GetWindowTextA(m_hEdit, current, 259);
    char chosen[MAX_PATH];
    chosen[0] = '\0';
    // The same text as IDS_BROWSE_TITLE, for when the string table cannot be read.
    static const wchar_t kBrowseTitle[] = L"\u30BB\u30C3\u30C8\u30A2\u30C3\u30D7\u5148\u3092"
                                          L"\u9078\u629E\u3057\u3066\u304F\u3060\u3055\u3044\u3002";
    char title[256];
    LoadStringOr(m_hInstance, IDS_BROWSE_TITLE, kBrowseTitle, title, sizeof(title));
    BrowseForFolder(GetHandle(), title, current, chosen, 0);
    if (chosen[0])
        SetWindowTextA(m_hEdit, chosen);
}

void CDestinationDlg::OnOK()
{
    char text[MAX_PATH];
    ZeroMemory(text, sizeof(text));
    GetWindowTextA(m_hEdit, text, 259);

    // Each refusal leaves the dialog open for the user to correct the path.
    if (!ValidateFolderPath(text, false) || !CreateFolderPath(text, false))
    {
        ShowMessage(IDS_BADPATH, MB_OK | MB_ICONINFORMATION, GetHandle());
        return;
    }
    if (!HasSetupRoom(text))
    {
        ShowMessage(IDS_DISKFULL, MB_OK, NULL);
        return;
    }
    // The path exactly as typed: no backslash is added or removed.
    if (!m_Path.Assign(text))
        return;
    End(IDOK);
}
