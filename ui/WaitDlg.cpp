#include "ui/WaitDlg.h"
#include "base/Log.h"
#include "resources/resource.h"

CWaitDlgWindow::CWaitDlgWindow()
    : CBaseDlg(IDD_WAIT)
{
}

INT_PTR CWaitDlgWindow::DialogProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_COMMAND:
        // Clicks, menu commands and the IDCANCEL that the dialog manager makes of WM_CLOSE and
        // Alt+F4 all carry code 0: nothing the user does ends this dialog.
        if (HIWORD(wParam) == 0)
            return FALSE;
        break;

    case WM_QUERYENDSESSION:
        // Answer 0: no log-off or shutdown while the setup works.
        SetWindowLongPtrA(GetHandle(), DWLP_MSGRESULT, 0);
        return TRUE;
    }
    return CBaseDlg::DialogProc(message, wParam, lParam);
}

CWaitDlg::CWaitDlg()
    : CWorkerThread("Waitdlg")
{
    m_bPumpMessages = true;
}

CWaitDlg::~CWaitDlg()
{
    // The window belongs to the thread and is destroyed there; the thread calls this object's
    // hooks, so it has to end while the object is whole.
    Shutdown();
}

HRESULT CWaitDlg::OnInit()
{
    // Modeless and without owner: the thread owns it and serves it in its message loop. The
    // thread runs even when the window cannot be made; the setup then goes on without it.
    if (m_Dialog.Create(NULL, 0))
        LogEvent("wait dialog: window made");
    else
        LogFailure("CreateDialogParamW", GetLastError(), "wait dialog: no window; the setup goes on "
                   "without it");
    return S_OK;
}

HRESULT CWaitDlg::OnExit()
{
    LogEvent("wait dialog: thread ends");
    return S_OK;
}

void CWaitDlg::OnCloseRequest()
{
    m_Dialog.End(0);
}
