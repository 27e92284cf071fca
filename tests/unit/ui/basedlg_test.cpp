// The dialog framework driven with real messages to a real dialog (template 113, which has the
// IDOK and IDCANCEL buttons), created on the test's own thread.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/BaseDlg.h"

namespace {

struct SentMessage
{
    HWND hwnd;
    UINT message;
};
std::vector<SentMessage> g_Sent;

// Every message sent to a window of this thread, as the window procedure receives it.
LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION)
        g_Sent.push_back({ sent->hwnd, sent->message });
    return CallNextHookEx(NULL, code, wParam, lParam);
}

int IndexOfSent(HWND hwnd, UINT message)
{
    for (size_t i = 0; i < g_Sent.size(); ++i)
        if (g_Sent[i].hwnd == hwnd && g_Sent[i].message == message)
            return (int)i;
    return -1;
}

std::string Hex(const void* p)
{
    char text[32];
    wsprintfA(text, "%p", p);
    return text;
}

class CProbeDlg : public CBaseDlg
{
public:
    struct Seen
    {
        UINT message;
        INT_PTR result;
    };

    CProbeDlg() : CBaseDlg(IDD_DESTINATION) {}

    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        // Recorded on entry: a handler may run nested messages (End inside WM_COMMAND).
        size_t index = m_Seen.size();
        m_Seen.push_back({ message, -1 });
        INT_PTR result = CBaseDlg::DialogProc(message, wParam, lParam);
        m_Seen[index].result = result;
        return result;
    }

    void OnInitDialog() override
    {
        m_Log.push_back("init");
        m_hWndAtInit = GetHandle();
        if (m_nPressAtInit)
            PostMessageA(GetHandle(), WM_COMMAND, MAKEWPARAM(m_nPressAtInit, BN_CLICKED), 0);
    }
    void OnDestroy() override { m_Log.push_back("destroy"); }
    void OnShow() override { m_Log.push_back("show"); }
    void OnHide() override { m_Log.push_back("hide"); }
    void OnOK() override
    {
        m_Log.push_back("ok");
        if (m_nEndOnOK)
            End(m_nEndOnOK);
    }
    void OnClose() override { m_Log.push_back("close"); }
    void OnCommand(WORD id, WORD code) override
    {
        // The edit control's focus notifications come and go with the dialog's activation.
        if (id == IDC_FOLDER_EDIT && (code == EN_SETFOCUS || code == EN_KILLFOCUS))
            return;
        m_Log.push_back("command " + std::to_string(id) + " " + std::to_string(code));
    }
    void OnHScroll(HWND bar, WORD request, WORD position) override
    {
        m_Log.push_back("hscroll " + Hex(bar) + " " + std::to_string(request) + " " +
                        std::to_string(position));
    }
    void OnVScroll(HWND bar, WORD request, WORD position) override
    {
        m_Log.push_back("vscroll " + Hex(bar) + " " + std::to_string(request) + " " +
                        std::to_string(position));
    }
    void OnNotify(WPARAM wParam, NMHDR* header) override
    {
        m_Log.push_back("notify " + std::to_string(wParam) + " " +
                        std::to_string((int)header->code));
    }
    void OnTimer(UINT_PTR id) override { m_Log.push_back("timer " + std::to_string(id)); }
    void OnDrawItem(WPARAM wParam, LPARAM /*lParam*/) override
    {
        m_Log.push_back("drawitem " + std::to_string(wParam));
    }
    void OnToolTipNeedText(NMHDR* header) override
    {
        m_Log.push_back("tooltip " + std::to_string(header->idFrom));
    }

    // The log since the last call.
    std::vector<std::string> Take()
    {
        std::vector<std::string> log;
        log.swap(m_Log);
        return log;
    }
    INT_PTR LastResult() const { return m_Seen.empty() ? -2 : m_Seen.back().result; }

    std::vector<std::string> m_Log;
    std::vector<Seen> m_Seen;
    HWND m_hWndAtInit = NULL;
    WORD m_nPressAtInit = 0;
    INT_PTR m_nEndOnOK = 0;
};

using Log = std::vector<std::string>;

// Serves the thread's posted messages until the condition holds or 5 s have passed.
template <class Condition>
bool PumpUntil(Condition done)
{
    DWORD start = GetTickCount();
    while (!done())
    {
        if (GetTickCount() - start > 5000)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

TEST(BaseDialog, RoutesRealMessagesToTheHandlers)
{
    CProbeDlg dlg;
    EXPECT_TRUE(dlg.GetHandle() == NULL);
    EXPECT_EQ(&dlg.m_hWnd, dlg.m_phWnd);
    EXPECT_EQ(GetModuleHandleA(NULL), dlg.m_hInstance);

    g_Sent.clear();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordSent, NULL, GetCurrentThreadId());
    ASSERT_TRUE(hook != NULL);
    HWND hwnd = dlg.Create(NULL, 0x1234);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_EQ(hwnd, dlg.GetHandle());
    EXPECT_EQ(hwnd, dlg.m_hWndAtInit);
    EXPECT_EQ(0x1234, dlg.m_lParam);
    EXPECT_FALSE(dlg.m_bModal);
    EXPECT_TRUE(dlg.m_hWndParent == NULL);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&dlg), GetWindowLongPtrA(hwnd, GWLP_USERDATA));

    // WM_SETFONT reaches the dialog before WM_INITDIALOG, and no handler sees it.
    int setFont = IndexOfSent(hwnd, WM_SETFONT);
    int initDialog = IndexOfSent(hwnd, WM_INITDIALOG);
    ASSERT_GE(setFont, 0);
    ASSERT_GT(initDialog, setFont);
    ASSERT_FALSE(dlg.m_Seen.empty());
    EXPECT_EQ((UINT)WM_INITDIALOG, dlg.m_Seen[0].message) << "a message before WM_INITDIALOG";
    EXPECT_EQ(TRUE, dlg.m_Seen[0].result);
    EXPECT_EQ(Log({ "init" }), dlg.Take());

    // A second Create gives the same window and changes nothing.
    EXPECT_EQ(hwnd, dlg.Create(NULL, 0x99));
    EXPECT_EQ(0x1234, dlg.m_lParam);
    EXPECT_TRUE(dlg.Take().empty());

    // IDOK reports and stays open; other ids reach OnCommand alone.
    HWND ok = GetDlgItem(hwnd, IDOK);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok);
    EXPECT_EQ(Log({ "ok", "command 1 0" }), dlg.Take());
    EXPECT_EQ(TRUE, dlg.LastResult());
    EXPECT_EQ(hwnd, dlg.GetHandle());
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, 0x300), 0);
    EXPECT_EQ(Log({ "command 1006 768" }), dlg.Take());

    ShowWindow(hwnd, SW_SHOW);
    EXPECT_EQ(Log({ "show" }), dlg.Take());
    ShowWindow(hwnd, SW_HIDE);
    EXPECT_EQ(Log({ "hide" }), dlg.Take());
    SendMessageA(hwnd, WM_SHOWWINDOW, 0, SW_PARENTCLOSING);
    EXPECT_EQ(Log({ "hide" }), dlg.Take());
    EXPECT_EQ(FALSE, dlg.LastResult());

    NMHDR header = { hwnd, 1005, (UINT)TTN_NEEDTEXTA };
    SendMessageA(hwnd, WM_NOTIFY, 1005, (LPARAM)&header);
    EXPECT_EQ(Log({ "notify 1005 -520", "tooltip 1005" }), dlg.Take());
    EXPECT_EQ(TRUE, dlg.LastResult());
    header.code = (UINT)NM_CLICK;
    SendMessageA(hwnd, WM_NOTIFY, 1005, (LPARAM)&header);
    EXPECT_EQ(Log({ "notify 1005 -2" }), dlg.Take());
    header.code = (UINT)TTN_NEEDTEXTW;
    SendMessageA(hwnd, WM_NOTIFY, 1005, (LPARAM)&header);
    EXPECT_EQ(Log({ "notify 1005 -530" }), dlg.Take());

    HWND edit = GetDlgItem(hwnd, IDC_FOLDER_EDIT);
    SendMessageA(hwnd, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 42), (LPARAM)edit);
    EXPECT_EQ(Log({ "hscroll " + Hex(edit) + " 4 42" }), dlg.Take());
    EXPECT_EQ(TRUE, dlg.LastResult());
    SendMessageA(hwnd, WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 7), (LPARAM)ok);
    EXPECT_EQ(Log({ "vscroll " + Hex(ok) + " 1 7" }), dlg.Take());

    DRAWITEMSTRUCT draw = {};
    SendMessageA(hwnd, WM_DRAWITEM, IDC_BROWSE, (LPARAM)&draw);
    EXPECT_EQ(Log({ "drawitem 1006" }), dlg.Take());
    EXPECT_EQ(TRUE, dlg.LastResult());

    ASSERT_NE(0u, SetTimer(hwnd, 7, 1, NULL));
    EXPECT_TRUE(PumpUntil([&] { return !dlg.m_Log.empty(); }));
    KillTimer(hwnd, 7);
    Log timers = dlg.Take();
    ASSERT_FALSE(timers.empty());
    EXPECT_EQ("timer 7", timers[0]);
    EXPECT_EQ(TRUE, dlg.LastResult());

    SendMessageA(hwnd, WM_APP + 5, 0, 0);
    EXPECT_TRUE(dlg.Take().empty());
    EXPECT_EQ(FALSE, dlg.LastResult());

    // WM_CLOSE: the handler, then the dialog manager's IDCANCEL, which ends the dialog with 0.
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(FALSE, dlg.LastResult());
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }));
    EXPECT_EQ(Log({ "close", "command 2 0", "destroy" }), dlg.Take());
    EXPECT_TRUE(dlg.GetHandle() == NULL);
    EXPECT_TRUE(dlg.m_hWnd == NULL);
    // Sent after WM_DESTROY, and no longer led to the object.
    EXPECT_GT(IndexOfSent(hwnd, WM_NCDESTROY), IndexOfSent(hwnd, WM_DESTROY));
    EXPECT_EQ((UINT)WM_DESTROY, dlg.m_Seen.back().message);
    UnhookWindowsHookEx(hook);

    // The object runs again, and End destroys a modeless dialog at once.
    HWND again = dlg.Create(NULL, 0);
    ASSERT_TRUE(again != NULL);
    EXPECT_EQ(Log({ "init" }), dlg.Take());
    dlg.End(3);
    EXPECT_TRUE(dlg.GetHandle() == NULL);
    EXPECT_FALSE(IsWindow(again));
    EXPECT_EQ(Log({ "destroy" }), dlg.Take());
    dlg.End(4);   // no window: only clears the handle
    EXPECT_TRUE(dlg.GetHandle() == NULL);

    // The destructor destroys a window that is still there.
    HWND last;
    {
        CProbeDlg other;
        last = other.Create(NULL, 0);
        ASSERT_TRUE(last != NULL);
    }
    EXPECT_FALSE(IsWindow(last));
}

TEST(BaseDialog, ModalRunEndsWithTheValueGivenToEnd)
{
    CProbeDlg accepting;
    accepting.m_nPressAtInit = IDOK;
    accepting.m_nEndOnOK = 5;
    EXPECT_EQ(5, accepting.DoModal(NULL, 77));
    EXPECT_TRUE(accepting.m_bModal);
    EXPECT_EQ(77, accepting.m_lParam);
    EXPECT_TRUE(accepting.GetHandle() == NULL);
    Log log = accepting.Take();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(Log({ "init", "ok", "command 1 0" }), Log(log.begin(), log.begin() + 3));
    EXPECT_EQ("destroy", log.back());

    CProbeDlg cancelled;
    cancelled.m_nPressAtInit = IDCANCEL;
    EXPECT_EQ(0, cancelled.DoModal(NULL, 0));
    EXPECT_TRUE(cancelled.GetHandle() == NULL);
    log = cancelled.Take();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(Log({ "init", "command 2 0" }), Log(log.begin(), log.begin() + 2));

    // Escape in a modal dialog is IDCANCEL too.
    CProbeDlg escaped;
    struct Esc
    {
        static DWORD WINAPI Press(void* parameter)
        {
            CProbeDlg* dlg = static_cast<CProbeDlg*>(parameter);
            HWND hwnd = NULL;
            for (int i = 0; i < 500 && !(hwnd = dlg->GetHandle()); ++i)
                Sleep(10);
            HWND edit = GetDlgItem(hwnd, IDC_FOLDER_EDIT);
            PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            return 0;
        }
    };
    HANDLE presser = CreateThread(NULL, 0, Esc::Press, &escaped, 0, NULL);
    EXPECT_EQ(0, escaped.DoModal(NULL, 0));
    WaitForSingleObject(presser, INFINITE);
    CloseHandle(presser);
}

TEST(BaseDialog, ToolTipControlAndItsTools)
{
    CProbeDlg dlg;
    HWND hwnd = dlg.Create(NULL, 0);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_FALSE(dlg.AddItemTip(IDOK, "no control yet")) << "a tool without tooltip control";

    ASSERT_TRUE(dlg.CreateToolTip());
    HWND tip = dlg.m_hWndToolTip;
    ASSERT_TRUE(tip != NULL);
    char cls[64];
    GetClassNameA(tip, cls, sizeof(cls));
    EXPECT_STREQ("tooltips_class32", cls);
    DWORD style = GetWindowLongA(tip, GWL_STYLE);
    EXPECT_EQ((DWORD)(WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP),
              style & (WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP))
        << std::hex << style;
    EXPECT_NE(0, GetWindowLongA(tip, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(hwnd, GetWindow(tip, GW_OWNER));
    EXPECT_EQ(700, SendMessageA(tip, TTM_GETDELAYTIME, TTDT_INITIAL, 0));
    EXPECT_EQ(30000, SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0));

    EXPECT_TRUE(dlg.AddItemTip(IDC_FOLDER_EDIT, "folder"));
    EXPECT_TRUE(dlg.AddItemTipRes(IDC_BROWSE, IDS_CAPTION));
    EXPECT_TRUE(dlg.AddItemTipCallback(IDOK));
    EXPECT_TRUE(dlg.AddWindowTip(GetDlgItem(hwnd, IDCANCEL), "cancel"));
    EXPECT_EQ(4, SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0));

    char text[1024] = "";
    TTTOOLINFOA tool = {};
    tool.cbSize = 44;
    tool.hwnd = hwnd;
    tool.uId = (UINT_PTR)GetDlgItem(hwnd, IDC_BROWSE);
    tool.lpszText = text;
    SendMessageA(tip, TTM_GETTEXTA, sizeof(text), (LPARAM)&tool);
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"), std::string(text));
    tool.uId = (UINT_PTR)GetDlgItem(hwnd, IDC_FOLDER_EDIT);
    tool.lpszText = text;
    ASSERT_TRUE(SendMessageA(tip, TTM_GETTOOLINFOA, 0, (LPARAM)&tool));
    EXPECT_EQ((UINT)(TTF_IDISHWND | TTF_SUBCLASS), tool.uFlags & (TTF_IDISHWND | TTF_SUBCLASS));
    EXPECT_STREQ("folder", text);
    tool.uId = (UINT_PTR)GetDlgItem(hwnd, IDOK);
    tool.lpszText = text;
    ASSERT_TRUE(SendMessageA(tip, TTM_GETTOOLINFOA, 0, (LPARAM)&tool));
    EXPECT_EQ(LPSTR_TEXTCALLBACKA, tool.lpszText);

    // The tooltip control goes with its dialog.
    dlg.End(0);
    EXPECT_FALSE(IsWindow(tip));
    EXPECT_TRUE(dlg.m_hWndToolTip == NULL);
}

}  // namespace
