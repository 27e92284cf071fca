// The small window that asks the user to wait while the inner installer works, together with
// the thread that owns it. The window cannot be closed by the user and refuses log-off and
// shutdown while it stands.
#pragma once
#include <windows.h>
#include "system/Thread.h"
#include "ui/BaseDlg.h"

class CWaitDlgWindow : public CBaseDlg
{
public:
    CWaitDlgWindow();

    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class CWaitDlg : public CWorkerThread
{
public:
    CWaitDlg();
    ~CWaitDlg() override;

    HRESULT OnInit() override;
    HRESULT OnExit() override;
    void OnCloseRequest() override;

    // The dialog's window for ShowWindow and IsWindowVisible from other threads; null when the
    // window was not made or is gone.
    HWND GetWindow() const { return m_Dialog.GetHandle(); }

    CWaitDlgWindow m_Dialog;
};
