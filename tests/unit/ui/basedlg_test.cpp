// The dialog framework driven with real messages to a real dialog (template 113, which has the
// IDOK and IDCANCEL buttons), created on the test's own thread; and the run's message box.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/BaseDlg.h"
#include "ui/Message.h"

namespace {

using Log = std::vector<std::string>;

// Every message sent to a dialog of this thread, as the window procedure receives it.
std::vector<UINT> g_Sent;

LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && GetClassLongA(sent->hwnd, GCW_ATOM) == 32770)
        g_Sent.push_back(sent->message);
    return CallNextHookEx(NULL, code, wParam, lParam);
}

int IndexOfSent(UINT message)
{
    return int(std::find(g_Sent.begin(), g_Sent.end(), message) - g_Sent.begin());
}

class CProbeDlg : public CBaseDlg
{
public:
    CProbeDlg() : CBaseDlg(IDD_DESTINATION) {}

    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        // Recorded on entry: a handler may run nested messages (End inside WM_COMMAND).
        size_t index = m_Seen.size();
        m_Seen.push_back({ message, -1 });
        INT_PTR result = CBaseDlg::DialogProc(message, wParam, lParam);
        m_Seen[index].second = result;
        return result;
    }

    void OnInitDialog() override
    {
        Note("init");
        if (m_nPressAtInit)
            PostMessageA(GetHandle(), WM_COMMAND, MAKEWPARAM(m_nPressAtInit, BN_CLICKED), 0);
    }
    void OnDestroy() override { Note("destroy"); }
    void OnShow() override { Note("show"); }
    void OnHide() override { Note("hide"); }
    void OnOK() override
    {
        Note("ok");
        if (m_bModal)
            End(5);
    }
    void OnClose() override { Note("close"); }
    void OnCommand(WORD id, WORD code) override
    {
        // The edit control's focus notifications come and go with the dialog's activation.
        if (id != IDC_FOLDER_EDIT || (code != EN_SETFOCUS && code != EN_KILLFOCUS))
            Note("command", id, code);
    }
    void OnHScroll(HWND bar, WORD code, WORD pos) override { Note("hscroll", bar, code, pos); }
    void OnVScroll(HWND bar, WORD code, WORD pos) override { Note("vscroll", bar, code, pos); }
    void OnNotify(WPARAM wParam, NMHDR* header) override
    {
        Note("notify", wParam, (int)header->code);
    }
    void OnTimer(UINT_PTR id) override { Note("timer", id); }
    void OnDrawItem(WPARAM wParam, LPARAM /*lParam*/) override { Note("drawitem", wParam); }
    void OnToolTipNeedText(NMHDR* header) override { Note("tooltip", header->idFrom); }

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
    std::vector<std::pair<UINT, INT_PTR>> m_Seen;   // message and result, as DialogProc saw them
    WORD m_nPressAtInit = 0;
};

TEST(BaseDialog, RoutesRealMessagesToTheHandlers)
{
    CProbeDlg dlg;
    g_Sent.clear();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordSent, NULL, GetCurrentThreadId());
    ASSERT_TRUE(hook != NULL);
    HWND hwnd = dlg.Create(NULL, 0x1234);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_EQ(hwnd, dlg.GetHandle());

    // WM_SETFONT reaches the dialog before WM_INITDIALOG, and no handler sees it.
    ASSERT_LT(IndexOfSent(WM_SETFONT), IndexOfSent(WM_INITDIALOG));
    ASSERT_FALSE(dlg.m_Seen.empty());
    EXPECT_EQ((UINT)WM_INITDIALOG, dlg.m_Seen[0].first) << "a message before WM_INITDIALOG";
    EXPECT_EQ(TRUE, dlg.m_Seen[0].second);
    EXPECT_EQ(Log({ "init" }), dlg.Take());
    EXPECT_EQ(hwnd, dlg.Create(NULL, 0x99)) << "a second Create";
    EXPECT_TRUE(dlg.Take().empty());

    ShowWindow(hwnd, SW_SHOW);
    EXPECT_EQ(Log({ "show" }), dlg.Take());
    ShowWindow(hwnd, SW_HIDE);
    EXPECT_EQ(Log({ "hide" }), dlg.Take());

    HWND ok = GetDlgItem(hwnd, IDOK);
    HWND edit = GetDlgItem(hwnd, IDC_FOLDER_EDIT);
    NMHDR needText = { hwnd, 1005, (UINT)TTN_NEEDTEXTA };
    NMHDR needTextW = { hwnd, 1005, (UINT)TTN_NEEDTEXTW };
    DRAWITEMSTRUCT draw = {};
    const struct { UINT message; WPARAM wParam; LPARAM lParam; Log log; INT_PTR result; } routes[]
    = {
        // IDOK reports and stays open; other ids reach OnCommand alone.
        { WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok, { "ok", "command 1 0" }, TRUE },
        { WM_COMMAND, MAKEWPARAM(IDC_BROWSE, 0x300), 0, { "command 1006 768" }, TRUE },
        { WM_SHOWWINDOW, 0, SW_PARENTCLOSING, { "hide" }, FALSE },
        { WM_NOTIFY, 1005, (LPARAM)&needText, { "notify 1005 -520", "tooltip 1005" }, TRUE },
        { WM_NOTIFY, 1005, (LPARAM)&needTextW, { "notify 1005 -530" }, TRUE },
        { WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 42), (LPARAM)edit,
          { "hscroll " + std::to_string((UINT_PTR)edit) + " 4 42" }, TRUE },
        { WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 7), (LPARAM)ok,
          { "vscroll " + std::to_string((UINT_PTR)ok) + " 1 7" }, TRUE },
        { WM_DRAWITEM, IDC_BROWSE, (LPARAM)&draw, { "drawitem 1006" }, TRUE },
        { WM_TIMER, 7, 0, { "timer 7" }, TRUE },
        { WM_APP + 5, 0, 0, {}, FALSE },
    };
    for (const auto& route : routes)
    {
        SendMessageA(hwnd, route.message, route.wParam, route.lParam);
        EXPECT_EQ(route.log, dlg.Take()) << "message " << route.message;
        EXPECT_EQ(route.result, dlg.m_Seen.back().second) << "message " << route.message;
        EXPECT_EQ(hwnd, dlg.GetHandle()) << "message " << route.message;
    }

    // WM_CLOSE: the handler, then the dialog manager's posted IDCANCEL, which ends the dialog.
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(FALSE, dlg.m_Seen.back().second);
    MSG msg;
    while (IsWindow(hwnd) && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_EQ(Log({ "close", "command 2 0", "destroy" }), dlg.Take());
    EXPECT_TRUE(dlg.GetHandle() == NULL);
    // Sent after WM_DESTROY, and no longer led to the object.
    EXPECT_GT(IndexOfSent(WM_NCDESTROY), IndexOfSent(WM_DESTROY));
    EXPECT_EQ((UINT)WM_DESTROY, dlg.m_Seen.back().first);
    UnhookWindowsHookEx(hook);

    // The object runs again, and End destroys a modeless dialog at once.
    HWND again = dlg.Create(NULL, 0);
    ASSERT_TRUE(again != NULL);
    dlg.End(3);
    EXPECT_TRUE(dlg.GetHandle() == NULL);
    EXPECT_FALSE(IsWindow(again));
    EXPECT_EQ(Log({ "init", "destroy" }), dlg.Take());
}

TEST(BaseDialog, ModalRunEndsWithTheValueGivenToEnd)
{
    const struct { WORD press; INT_PTR result; Log start; } runs[] = {
        { IDOK, 5, { "init", "ok", "command 1 0" } }, { IDCANCEL, 0, { "init", "command 2 0" } } };
    for (const auto& run : runs)
    {
        CProbeDlg dlg;
        dlg.m_nPressAtInit = run.press;
        EXPECT_EQ(run.result, dlg.DoModal(NULL, 77)) << run.press;
        EXPECT_EQ(77, dlg.m_lParam) << run.press;
        EXPECT_TRUE(dlg.m_bModal && !dlg.GetHandle()) << run.press;
        Log log = dlg.Take();
        ASSERT_GT(log.size(), run.start.size()) << run.press;
        EXPECT_EQ(run.start, Log(log.begin(), log.begin() + run.start.size()));
        EXPECT_EQ("destroy", log.back()) << run.press;
    }
}

TEST(BaseDialog, ToolTipControlAndItsTools)
{
    CProbeDlg* dlg = new CProbeDlg;
    HWND hwnd = dlg->Create(NULL, 0);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_FALSE(dlg->AddItemTip(IDOK, "no control yet")) << "a tool without tooltip control";

    ASSERT_TRUE(dlg->CreateToolTip());
    HWND tip = dlg->m_hWndToolTip;
    ASSERT_TRUE(tip != NULL);
    const DWORD styles = WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP;
    DWORD style = GetWindowLongA(tip, GWL_STYLE);
    EXPECT_EQ(styles, style & styles) << std::hex << style;
    EXPECT_NE(0, GetWindowLongA(tip, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(hwnd, GetWindow(tip, GW_OWNER));
    EXPECT_EQ(700, SendMessageA(tip, TTM_GETDELAYTIME, TTDT_INITIAL, 0));
    EXPECT_EQ(30000, SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0));

    EXPECT_TRUE(dlg->AddItemTip(IDC_FOLDER_EDIT, "folder"));
    EXPECT_TRUE(dlg->AddItemTipRes(IDC_BROWSE, IDS_CAPTION));
    EXPECT_TRUE(dlg->AddItemTipCallback(IDOK));
    EXPECT_TRUE(dlg->AddWindowTip(GetDlgItem(hwnd, IDCANCEL), "cancel"));
    EXPECT_EQ(4, SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0));

    // Each tool as the control holds it.
    const struct { int id; std::string text; } tools[] = {
        { IDC_FOLDER_EDIT, "folder" }, { IDC_BROWSE, Sjis(u8"Vantori セットアップ") },
        { IDOK, "callback" }, { IDCANCEL, "cancel" } };
    for (const auto& expected : tools)
    {
        char text[1024] = "";
        TTTOOLINFOA tool = {};
        tool.cbSize = sizeof(void*) == 4 ? 44 : 64;   // without lpReserved, as the dialog adds it
        tool.hwnd = hwnd;
        tool.uId = (UINT_PTR)GetDlgItem(hwnd, expected.id);
        tool.lpszText = text;
        ASSERT_TRUE(SendMessageA(tip, TTM_GETTOOLINFOA, 0, (LPARAM)&tool)) << expected.id;
        EXPECT_EQ((UINT)(TTF_IDISHWND | TTF_SUBCLASS), tool.uFlags & (TTF_IDISHWND | TTF_SUBCLASS))
            << expected.id;
        EXPECT_EQ(expected.text, tool.lpszText == LPSTR_TEXTCALLBACKA ? "callback" : text)
            << expected.id;
    }

    // The destructor destroys the dialog that is still there, and the tooltip control with it.
    delete dlg;
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindow(tip));
}

}  // namespace

static DWORD WINAPI AnswerMessageBox(void* param)
{
    HWND box = WaitForWindow(Sjis(u8"Vantori セットアップ").c_str(), "#32770", 10000);
    if (box)
    {
        *static_cast<std::string*>(param) = GetMessageBoxText(box);
        PressButton(box, IDNO);
    }
    return 0;
}

TEST(Message, ShowMessage)
{
    std::string seen = "(no box with the caption)";
    HANDLE hThread = CreateThread(NULL, 0, AnswerMessageBox, &seen, 0, NULL);
    ASSERT_NE(nullptr, hThread);
    EXPECT_EQ(IDNO, ShowMessage(IDS_DXOFFER, MB_YESNO));
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    EXPECT_EQ(Sjis(u8"「Vantori」を使用するためにはDirectX 9.0c以上が必要です。\nここでセットアップを行いますか？"),
              seen);
}
