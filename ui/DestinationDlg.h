// The modal dialog in which the user confirms or chooses the destination folder. The folder
// rules it applies live in ui/Folder.h.
#pragma once
#include <windows.h>
#include "base/Text.h"
#include "ui/BaseDlg.h"

class CDestinationDlg : public CBaseDlg
{
public:
    // A null initialFolder gives the empty text, and the dialog proposes the default folder.
    explicit CDestinationDlg(const char* initialFolder);
    ~CDestinationDlg() override;

    void OnInitDialog() override;
    void OnOK() override;
    void OnCommand(WORD id, WORD code) override;

    // The initial folder; after IDOK the accepted path exactly as the user left it.
    CText m_Path;
    HWND m_hEdit;

private:
    bool GetTypedFolder(char* text);
};
