#include "ui/BaseDlg.h"
#include "base/Module.h"
#include <stddef.h>

// The tool record as every comctl32 version accepts it (the version 6 field lpReserved left out):
// 44 bytes in a 32-bit process, 64 in a 64-bit one, where its handles and pointers are wider.
static const UINT TOOLINFO_SIZE = offsetof(TTTOOLINFOA, lParam) + sizeof(LPARAM);
static_assert(TOOLINFO_SIZE == (sizeof(void*) == 4 ? 44 : 64), "tool record without lpReserved");

CBaseWnd::CBaseWnd()
    : m_phWnd(&m_hWnd), m_hInstance(GetModuleInstance()), m_hWnd(NULL)
{
}

CBaseWnd::~CBaseWnd()
{
    if (*m_phWnd)
        DestroyWindow(*m_phWnd);
    *m_phWnd = NULL;
}

LRESULT CBaseWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(*m_phWnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------

CBaseDlg::CBaseDlg(int templateId)
    : m_hWndParent(NULL),
      m_hWndOwner(NULL),
      m_lParam(0),
      m_bModal(false),
      m_hWndToolTip(NULL),
      m_nTemplateId(templateId)
{
}

CBaseDlg::~CBaseDlg()
{
    HWND hwnd = *m_phWnd;
    if (hwnd)
    {
        DestroyWindow(hwnd);
        // DestroyWindow refuses a window of another thread; such a window must at least no
        // longer lead its messages to this object.
        if (IsWindow(hwnd))
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    }
    *m_phWnd = NULL;
}

HWND CBaseDlg::Create(HWND parent, LPARAM param)
{
    if (*m_phWnd)
        return *m_phWnd;
    m_bModal = false;
    m_hWndParent = parent;
    m_hWndOwner = parent;
    m_lParam = param;
    return CreateDialogParamW(m_hInstance, MAKEINTRESOURCEW(LOWORD(m_nTemplateId)), parent,
                              StaticDialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CBaseDlg::DoModal(HWND parent, LPARAM param)
{
    m_lParam = param;
    m_hWndParent = parent;
    m_hWndOwner = parent;
    m_bModal = true;
    return DialogBoxParamW(m_hInstance, MAKEINTRESOURCEW(LOWORD(m_nTemplateId)), parent,
                           StaticDialogProc, reinterpret_cast<LPARAM>(this));
}

void CBaseDlg::End(INT_PTR result)
{
    HWND hwnd = *m_phWnd;
    if (hwnd)
    {
        if (m_bModal)
            EndDialog(hwnd, result);
        else
            DestroyWindow(hwnd);
    }
    *m_phWnd = NULL;
}

INT_PTR CALLBACK CBaseDlg::StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                            LPARAM lParam)
{
    CBaseDlg* dialog = reinterpret_cast<CBaseDlg*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!dialog)
    {
        // Messages before WM_INITDIALOG (WM_SETFONT and the like) have no object to go to.
        if (message != WM_INITDIALOG || !lParam)
            return FALSE;
        dialog = reinterpret_cast<CBaseDlg*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dialog));
        *dialog->m_phWnd = hwnd;
        return dialog->DialogProc(message, wParam, lParam);
    }

    if (message == WM_COMMAND)
    {
        // The handler works on the window that got the command; a handler that ended the
        // dialog leaves the handle null, and it stays so.
        HWND kept = *dialog->m_phWnd;
        *dialog->m_phWnd = hwnd;
        INT_PTR result = dialog->DialogProc(message, wParam, lParam);
        if (*dialog->m_phWnd)
            *dialog->m_phWnd = kept;
        return result;
    }

    INT_PTR result = dialog->DialogProc(message, wParam, lParam);
    if (message == WM_DESTROY)
    {
        // Later messages (WM_NCDESTROY) find no object; the object may be run again.
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        *dialog->m_phWnd = NULL;
        dialog->m_hWndToolTip = NULL;
    }
    return result;
}

INT_PTR CBaseDlg::DialogProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
        m_hWndParent = GetParent(*m_phWnd);
        OnInitDialog();
        return TRUE;

    case WM_COMMAND:
    {
        // IDOK only reports; a dialog that ends on OK ends itself in OnOK. IDCANCEL (also
        // Escape and the close box of a modal dialog) ends every dialog with 0.
        WORD id = LOWORD(wParam);
        if (id == IDOK)
            OnOK();
        OnCommand(id, HIWORD(wParam));
        if (id == IDCANCEL)
            End(0);
        return TRUE;
    }

    case WM_DESTROY:
        OnDestroy();
        return FALSE;

    case WM_CLOSE:
        // Left to the dialog manager, which turns it into IDCANCEL.
        OnClose();
        return FALSE;

    case WM_SHOWWINDOW:
        if (wParam == 1)
            OnShow();
        else
            OnHide();
        return FALSE;

    case WM_DRAWITEM:
        OnDrawItem(wParam, lParam);
        return TRUE;

    case WM_NOTIFY:
    {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        OnNotify(wParam, header);
        if (header && header->code == (UINT)TTN_NEEDTEXTA)
            OnToolTipNeedText(header);
        return TRUE;
    }

    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;

    case WM_NOTIFYFORMAT:
        // The tips of the dialog are ANSI texts: a tooltip asks for them in the code page, as it
        // would of an ANSI window, though the dialog itself is a Unicode one.
        SetWindowLongPtrA(*m_phWnd, DWLP_MSGRESULT, NFR_ANSI);
        return TRUE;

    case WM_HSCROLL:
        OnHScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam), HIWORD(wParam));
        return TRUE;

    case WM_VSCROLL:
        OnVScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

bool CBaseDlg::CreateToolTip()
{
    // The tooltip class belongs to the common controls, which register it only when asked.
    // comctl32 is not a known DLL: it is loaded from the system directory by its full path.
    typedef BOOL (WINAPI* InitCommonControlsExFn)(const INITCOMMONCONTROLSEX*);
    InitCommonControlsExFn init = reinterpret_cast<InitCommonControlsExFn>(
        reinterpret_cast<void*>(GetSystemProcAddress("comctl32.dll", "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_BAR_CLASSES };
    if (!init || !init(&controls))
        return false;

    m_hWndToolTip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL,
                                    WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                    0, 0, 0, 0, *m_phWnd, NULL, m_hInstance, NULL);
    if (!m_hWndToolTip)
        return false;
    SetWindowPos(m_hWndToolTip, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageA(m_hWndToolTip, TTM_SETDELAYTIME, TTDT_INITIAL, 700);
    SendMessageA(m_hWndToolTip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    return true;
}

bool CBaseDlg::AddTool(HWND window, char* text)
{
    if (!m_hWndToolTip)
        return false;
    TTTOOLINFOA tool;
    ZeroMemory(&tool, sizeof(tool));
    tool.cbSize = TOOLINFO_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = *m_phWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(window);
    tool.hinst = m_hInstance;
    tool.lpszText = text;
    tool.lParam = 0;
    return SendMessageA(m_hWndToolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)) == 1;
}

bool CBaseDlg::AddItemTip(int id, const char* text)
{
    return AddWindowTip(GetDlgItem(*m_phWnd, id), text);
}

bool CBaseDlg::AddItemTipRes(int id, UINT stringId)
{
    return AddWindowTipRes(GetDlgItem(*m_phWnd, id), stringId);
}

bool CBaseDlg::AddItemTipCallback(int id)
{
    return AddWindowTipCallback(GetDlgItem(*m_phWnd, id));
}

bool CBaseDlg::AddWindowTip(HWND window, const char* text)
{
    // The control copies the text; it never writes through the pointer.
    return AddTool(window, const_cast<char*>(text));
}

bool CBaseDlg::AddWindowTipRes(HWND window, UINT stringId)
{
    char text[1024];
    text[0] = '\0';
    LoadStringA(m_hInstance, stringId, text, sizeof(text));
    return AddTool(window, text);
}

bool CBaseDlg::AddWindowTipCallback(HWND window)
{
    return AddTool(window, LPSTR_TEXTCALLBACKA);
}
