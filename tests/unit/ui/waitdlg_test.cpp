// The wait dialog on its own thread, driven from the test's thread as the setup drives it.
#include <gtest/gtest.h>
#include <string>
#include "common/DialogDriver.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/WaitDlg.h"

namespace {

// Returns once the dialog's thread has served every message posted to it so far: a font change
// posted behind them is seen only after they were dispatched.
void SyncWithDialogThread(HWND dlg)
{
    static int s_nRound;
    HWND label = GetWindow(dlg, GW_CHILD);
    HGDIOBJ font = GetStockObject((++s_nRound & 1) ? ANSI_VAR_FONT : DEFAULT_GUI_FONT);
    PostMessageA(label, WM_SETFONT, (WPARAM)font, FALSE);
    for (int i = 0; i < 1000 && (HGDIOBJ)SendMessageA(label, WM_GETFONT, 0, 0) != font; ++i)
        Sleep(5);
}

HANDLE OpenWorkerThread(const CWaitDlg& dlg)
{
    return OpenThread(SYNCHRONIZE, FALSE, dlg.m_dwThreadId);
}

TEST(WaitDialog, HiddenOnItsThreadShownFromOutsideAndNotClosableByTheUser)
{
    CWaitDlg dlg;
    EXPECT_STREQ("Waitdlg", dlg.m_pszName);
    EXPECT_TRUE(dlg.m_bPumpMessages);
    EXPECT_TRUE(dlg.GetWindow() == NULL);

    ASSERT_EQ(S_OK, dlg.Start(true));
    HWND hwnd = dlg.GetWindow();
    ASSERT_TRUE(hwnd != NULL) << "no window when Start returned";
    EXPECT_FALSE(IsWindowVisible(hwnd)) << "created visible";
    EXPECT_EQ(dlg.m_dwThreadId, GetWindowThreadProcessId(hwnd, NULL));
    EXPECT_NE(GetCurrentThreadId(), dlg.m_dwThreadId);

    // Template 110 as the window shows it.
    char cls[32];
    GetClassNameA(hwnd, cls, sizeof(cls));
    EXPECT_STREQ("#32770", cls);
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"), GetWindowTextOf(hwnd));
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_EQ(WS_CAPTION, style & WS_CAPTION) << std::hex << style;
    EXPECT_EQ(0, style & WS_SYSMENU) << "a close box";
    EXPECT_NE(0, GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    RECT units = { 0, 0, 186, 68 };
    MapDialogRect(hwnd, &units);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(units.right, client.right);
    EXPECT_EQ(units.bottom, client.bottom);
    HWND label = GetWindow(hwnd, GW_CHILD);
    ASSERT_TRUE(label != NULL);
    EXPECT_EQ(-1, GetDlgCtrlID(label));
    EXPECT_EQ(Sjis(u8"セットアップを行っています。\n\nしばらくお待ちください..."),
              GetWindowTextOf(label));
    EXPECT_EQ(SS_CENTER, GetWindowLongA(label, GWL_STYLE) & SS_TYPEMASK);

    // Shown and hidden from this thread; the dialog's thread serves the calls.
    ShowWindow(hwnd, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(SaveWindowPng(hwnd, ScreenshotPath("wait_dialog")));

    // Escape, Enter, Alt+F4, the close command, WM_CLOSE and a bare IDCANCEL change nothing.
    PostMessageA(hwnd, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(hwnd, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(hwnd, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
    SyncWithDialogThread(hwnd);
    SyncWithDialogThread(hwnd);   // the IDCANCEL that the dialog manager posted for WM_CLOSE
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    SyncWithDialogThread(hwnd);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(hwnd, dlg.GetWindow());

    // Log-off and shutdown are refused while it stands.
    DWORD_PTR answer = 99;
    ASSERT_TRUE(SendMessageTimeoutA(hwnd, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer));
    EXPECT_EQ(0u, answer);

    ShowWindow(hwnd, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    ShowWindow(hwnd, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    // Stop: the window is destroyed on its thread and the thread ends.
    HANDLE thread = OpenWorkerThread(dlg);
    ASSERT_TRUE(thread != NULL);
    EXPECT_FALSE(dlg.Stop(true, false, false));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(dlg.GetWindow() == NULL);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
    CloseHandle(thread);
}

TEST(WaitDialog, DestroyedWithoutStopClosesTheWindowOnItsThread)
{
    CWaitDlg* dlg = new CWaitDlg;
    ASSERT_EQ(S_OK, dlg->Start(true));
    HWND hwnd = dlg->GetWindow();
    ASSERT_TRUE(hwnd != NULL);
    ShowWindow(hwnd, SW_SHOW);
    HANDLE thread = OpenWorkerThread(*dlg);
    ASSERT_TRUE(thread != NULL);
    delete dlg;
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0)) << "the thread outlived its object";
    CloseHandle(thread);

    // Started again after a Stop, the object makes a new hidden window.
    CWaitDlg again;
    ASSERT_EQ(S_OK, again.Start(true));
    HWND first = again.GetWindow();
    EXPECT_FALSE(again.Stop(true, false, false));
    ASSERT_EQ(S_OK, again.Start(true));
    HWND second = again.GetWindow();
    ASSERT_TRUE(second != NULL);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindowVisible(second));
}

}  // namespace
