// CBaseWnd binds an object to one window; CBaseDlg runs a dialog template of the module as a
// modal or modeless dialog, routes its messages to the object's handlers, and offers a
// tooltip control for its items. The dialogs are Unicode windows: the texts of the templates
// reach the screen as they are, whatever the ANSI code page.
#pragma once
#include <windows.h>
#include <commctrl.h>

class CBaseWnd
{
public:
    CBaseWnd();
    virtual ~CBaseWnd();
    CBaseWnd(const CBaseWnd&) = delete;
    CBaseWnd& operator=(const CBaseWnd&) = delete;

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // The window, or null while there is none.
    HWND GetHandle() const { return *m_phWnd; }

    HWND* m_phWnd;
    HINSTANCE m_hInstance;
    HWND m_hWnd;
};

class CBaseDlg : public CBaseWnd
{
public:
    explicit CBaseDlg(int templateId);
    ~CBaseDlg() override;

    virtual INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Modeless; returns the dialog's window (the existing one when there is one already).
    virtual HWND Create(HWND parent, LPARAM param);
    // Modal; returns the value given to End.
    virtual INT_PTR DoModal(HWND parent, LPARAM param);
    virtual void End(INT_PTR result);

    virtual void OnInitDialog() {}
    virtual void OnDestroy() {}
    virtual void OnShow() {}
    virtual void OnHide() {}
    virtual void OnOK() {}
    virtual void OnClose() {}
    virtual void OnCommand(WORD /*id*/, WORD /*code*/) {}
    virtual void OnHScroll(HWND /*scrollBar*/, WORD /*request*/, WORD /*position*/) {}
    virtual void OnVScroll(HWND /*scrollBar*/, WORD /*request*/, WORD /*position*/) {}
    virtual void OnNotify(WPARAM /*wParam*/, NMHDR* /*header*/) {}
    virtual void OnTimer(UINT_PTR /*id*/) {}
    virtual void OnDrawItem(WPARAM /*wParam*/, LPARAM /*lParam*/) {}
    virtual void OnToolTipNeedText(NMHDR* /*header*/) {}

    // Makes the tooltip control of the dialog; false when it could not be made.
    virtual bool CreateToolTip();
    // The tip operations return true when the tooltip control accepted the tool.
    virtual bool AddItemTip(int id, const char* text);
    virtual bool AddItemTipRes(int id, UINT stringId);
    virtual bool AddItemTipCallback(int id);
    virtual bool AddWindowTip(HWND window, const char* text);
    virtual bool AddWindowTipRes(HWND window, UINT stringId);
    virtual bool AddWindowTipCallback(HWND window);

    HWND m_hWndParent;
    HWND m_hWndOwner;
    LPARAM m_lParam;
    bool m_bModal;
    HWND m_hWndToolTip;
    int m_nTemplateId;

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam);
    bool AddTool(HWND window, char* text);
};
