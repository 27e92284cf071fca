// The dialog framework driven with real messages to a real dialog (template 113, which has the
// IDOK and IDCANCEL buttons), created on the test's own thread.
#include <gtest/gtest.h>
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/BaseDlg.h"

typedef std::vector<std::string> Log;

// Notes each hook with its arguments, and every message that reached DialogProc.
class CProbeDlg : public CBaseDlg
{
public:
    CProbeDlg() : CBaseDlg(IDD_DESTINATION) {}

    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        m_Seen.push_back(message);
        return CBaseDlg::DialogProc(message, wParam, lParam);
    }
    void OnInitDialog() override { Note("init"); }
    void OnDestroy() override { Note("destroy"); }
    void OnShow() override { Note("show"); }
    void OnHide() override { Note("hide"); }
    void OnOK() override { Note("ok"); }
    void OnClose() override { Note("close"); }
    void OnCommand(WORD id, WORD code) override
    {
        // The edit control's focus notifications come and go with the dialog's activation.
        if (code != EN_SETFOCUS && code != EN_KILLFOCUS)
            Note("command", id, code);
    }
    void OnHScroll(HWND bar, WORD code, WORD pos) override { Note("hscroll", bar, code, pos); }
    void OnVScroll(HWND bar, WORD code, WORD pos) override { Note("vscroll", bar, code, pos); }
    void OnNotify(WPARAM wParam, NMHDR* header) override { Note("notify", wParam, (int)header->code); }
    void OnTimer(UINT_PTR id) override { Note("timer", id); }
    void OnDrawItem(WPARAM wParam, LPARAM lParam) override { Note("drawitem", wParam, lParam); }
    void OnToolTipNeedText(NMHDR* header) override
    {
        reinterpret_cast<NMTTDISPINFOA*>(header)->lpszText = const_cast<char*>("asked");
    }

    template <class... Values>
    void Note(const char* what, Values... values)
    {
        std::string line = what;
        for (long long value : std::initializer_list<long long>{ (long long)(INT_PTR)values... })
            line += " " + std::to_string(value);
        m_Log.push_back(line);
    }
    Log Take() { Log log; log.swap(m_Log); return log; }   // the log since the last call

    Log m_Log;
    std::vector<UINT> m_Seen;
};

TEST(BaseDialog, RoutesRealMessagesToTheHandlers)
{
    CProbeDlg dlg;
    HWND hwnd = dlg.Create(NULL, 0x1234);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_EQ(hwnd, dlg.GetHandle());
    // Messages before WM_INITDIALOG (WM_SETFONT for this template) reach no handler.
    EXPECT_EQ((UINT)WM_INITDIALOG, dlg.m_Seen.at(0));
    EXPECT_EQ(Log({ "init" }), dlg.Take());
    EXPECT_EQ(hwnd, dlg.Create(NULL, 0x99)) << "a second Create";

    NMHDR click = { hwnd, 1005, (UINT)NM_CLICK };
    const struct { UINT message; WPARAM wParam; LPARAM lParam; Log log; } routes[] = {
        // IDOK reports and leaves the dialog open; other ids reach OnCommand alone.
        { WM_COMMAND, IDOK, 0, { "ok", "command 1 0" } },
        { WM_COMMAND, MAKEWPARAM(IDC_BROWSE, 0x300), 0, { "command 1006 768" } },
        { WM_SHOWWINDOW, TRUE, 0, { "show" } },
        { WM_SHOWWINDOW, FALSE, SW_PARENTCLOSING, { "hide" } },
        { WM_NOTIFY, 1005, (LPARAM)&click, { "notify 1005 -2" } },
        { WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 42), 0x1234, { "hscroll 4660 4 42" } },
        { WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 7), 0x1234, { "vscroll 4660 1 7" } },
        { WM_DRAWITEM, IDC_BROWSE, 77, { "drawitem 1006 77" } },
        { WM_TIMER, 7, 0, { "timer 7" } },
    };
    for (const auto& route : routes)
    {
        SendMessageA(hwnd, route.message, route.wParam, route.lParam);
        EXPECT_EQ(route.log, dlg.Take()) << "message " << route.message;
    }

    // WM_CLOSE: the handler, then the IDCANCEL that the dialog manager posts, which ends it.
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    MSG msg;
    while (IsWindow(hwnd) && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_EQ(Log({ "close", "command 2 0", "destroy" }), dlg.Take());
    EXPECT_TRUE(dlg.GetHandle() == NULL);
    EXPECT_EQ((UINT)WM_DESTROY, dlg.m_Seen.back()) << "WM_NCDESTROY still led to the object";
}

TEST(BaseDialog, ToolTipsAreAddedAndAnswer)
{
    CProbeDlg* dlg = new CProbeDlg;
    HWND hwnd = dlg->Create(NULL, 0);
    ASSERT_TRUE(hwnd != NULL);
    ASSERT_TRUE(dlg->CreateToolTip());
    HWND tip = dlg->m_hWndToolTip;
    EXPECT_TRUE(dlg->AddItemTip(IDC_FOLDER_EDIT, "folder"));
    EXPECT_TRUE(dlg->AddItemTipRes(IDC_BROWSE, IDS_CAPTION));
    EXPECT_TRUE(dlg->AddItemTipCallback(IDOK));
    EXPECT_TRUE(dlg->AddWindowTip(GetDlgItem(hwnd, IDCANCEL), "cancel"));

    // Each tool as the control holds it, with the text it shows: the callback tool's is asked
    // of the dialog through TTN_NEEDTEXTA.
    const struct { int id; std::string text; } tools[] = {
        { IDC_FOLDER_EDIT, "folder" }, { IDC_BROWSE, Sjis(u8"Vantori セットアップ") },
        { IDOK, "asked" }, { IDCANCEL, "cancel" } };
    for (const auto& expected : tools)
    {
        char text[1024] = "";
        // Without lpReserved, as the dialog adds it.
        TTTOOLINFOA tool = { sizeof(void*) == 4 ? 44u : 64u, 0, hwnd, (UINT_PTR)GetDlgItem(hwnd, expected.id),
                             {}, NULL, NULL, 0, NULL };
        ASSERT_TRUE(SendMessageA(tip, TTM_GETTOOLINFOA, 0, (LPARAM)&tool)) << expected.id;
        EXPECT_EQ((UINT)TTF_SUBCLASS, tool.uFlags & TTF_SUBCLASS) << expected.id;
        tool.lpszText = text;
        SendMessageA(tip, TTM_GETTEXTA, sizeof(text), (LPARAM)&tool);
        EXPECT_EQ(expected.text, text) << expected.id;
    }

    // The destructor destroys the dialog that is still there, and the tooltip control with it.
    delete dlg;
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindow(tip));
}

