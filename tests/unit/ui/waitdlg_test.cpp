// The wait dialog on its own thread, driven from the test's thread as the setup drives it.
#include <gtest/gtest.h>
#include "common/TestSupport.h"
#include "ui/WaitDlg.h"

// Fails unless the dialog's thread serves, within 5 s, every message posted to it so far: a
// font change posted behind them is seen only after they were dispatched.
static void SyncWithDialogThread(HWND dlg)
{
    static int s_nRound;
    HWND label = GetWindow(dlg, GW_CHILD);
    HGDIOBJ font = GetStockObject((++s_nRound & 1) ? ANSI_VAR_FONT : DEFAULT_GUI_FONT);
    PostMessageA(label, WM_SETFONT, (WPARAM)font, FALSE);
    for (int i = 0; i < 1000 && (HGDIOBJ)SendMessageA(label, WM_GETFONT, 0, 0) != font; ++i)
        Sleep(5);
    EXPECT_EQ(font, (HGDIOBJ)SendMessageA(label, WM_GETFONT, 0, 0)) << "the dialog's thread is stuck";
}

TEST(WaitDialog, HiddenOnItsThreadNotClosableByTheUserAndClosedByStopOrDestruction)
{
    for (bool stop : { true, false })
    {
        std::unique_ptr<CWaitDlg> dlg(new CWaitDlg);
        ASSERT_EQ(S_OK, dlg->Start(true));
        HWND hwnd = dlg->GetWindow();
        HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, dlg->m_dwThreadId);
        ASSERT_TRUE(hwnd && thread) << "no window when Start returned";
        EXPECT_FALSE(IsWindowVisible(hwnd)) << "created visible";
        EXPECT_EQ(dlg->m_dwThreadId, GetWindowThreadProcessId(hwnd, NULL));
        // Template 110 as the window shows it, with a caption and no close box.
        EXPECT_EQ(Sjis(u8"Vantori セットアップ"), GetWindowTextOf(hwnd));
        EXPECT_EQ(WS_CAPTION, GetWindowLongA(hwnd, GWL_STYLE) & (WS_CAPTION | WS_SYSMENU));
        EXPECT_EQ(Sjis(u8"セットアップを行っています。\n\nしばらくお待ちください..."),
                  GetWindowTextOf(GetWindow(hwnd, GW_CHILD)));

        // Shown from this thread, as the setup shows it; Escape, Enter, Alt+F4, the close
        // command, WM_CLOSE and a bare IDCANCEL change nothing.
        ShowWindow(hwnd, SW_SHOW);
        const LPARAM input[][3] = { { WM_KEYDOWN, VK_ESCAPE, 0x00010001 }, { WM_KEYDOWN, VK_RETURN, 0x001C0001 },
            { WM_SYSKEYDOWN, VK_F4, 0x203E0001 }, { WM_SYSCOMMAND, SC_CLOSE, 0 }, { WM_CLOSE, 0, 0 }, { WM_COMMAND, IDCANCEL, 0 } };
        for (const LPARAM* m : input)
            PostMessageA(hwnd, (UINT)m[0], m[1], m[2]);
        SyncWithDialogThread(hwnd);
        SyncWithDialogThread(hwnd);   // the IDCANCEL that the dialog manager posted for WM_CLOSE
        EXPECT_TRUE(IsWindowVisible(hwnd));
        // Log-off and shutdown are refused while it stands.
        DWORD_PTR answer = 99;
        EXPECT_TRUE(SendMessageTimeoutA(hwnd, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer) && !answer)
            << "answered " << answer;

        if (stop)
            EXPECT_FALSE(dlg->Stop(true, false, false));
        else
            dlg.reset();
        EXPECT_FALSE(IsWindow(hwnd)) << "stop " << stop;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0)) << "stop " << stop;
        CloseHandle(thread);
        EXPECT_EQ(nullptr, stop ? dlg->GetWindow() : nullptr) << "the window kept after Stop";
    }
}
