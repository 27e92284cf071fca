// The process-wide helpers: module instance and directory, the fold of Win32 errors, the
// double-byte test of code page 932, and the message box.
#include <gtest/gtest.h>
#include "base/Module.h"
#include "common/DialogDriver.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include <string>

TEST(Module, InstanceAndDirectory)
{
    EXPECT_EQ(932u, GetACP());
    SetModuleInstance(NULL);
    EXPECT_EQ(GetModuleHandleA(NULL), GetModuleInstance());
    HINSTANCE hOther = GetModuleHandleA("kernel32.dll");
    SetModuleInstance(hOther);
    EXPECT_EQ(hOther, GetModuleInstance());
    SetModuleInstance(GetModuleHandleA(NULL));

    char szDir[MAX_PATH];
    EXPECT_EQ(1, GetModuleDirectory(szDir, sizeof(szDir)));
    EXPECT_EQ(0, lstrcmpiA(TestsDir().c_str(), szDir)) << szDir << " vs " << TestsDir();
    char szSmall[4] = "abc";
    EXPECT_EQ(0, GetModuleDirectory(szSmall, sizeof(szSmall)));
    EXPECT_EQ(0, szSmall[0]);
}

TEST(Module, FoldWin32Error)
{
    EXPECT_EQ((HRESULT)0x80070002, FoldWin32Error(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ((HRESULT)0x80070026, FoldWin32Error(ERROR_HANDLE_EOF));
    EXPECT_EQ((HRESULT)0x80072345, FoldWin32Error(0x12345));
    EXPECT_EQ(0, FoldWin32Error(0));
    EXPECT_EQ(-5, FoldWin32Error(-5));
    EXPECT_EQ((HRESULT)0x8000FFFF, FoldWin32Error((LONG)0x8000FFFF));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ((HRESULT)0x80070005, HResultFromLastError());
    SetLastError(0);
    EXPECT_EQ(0, HResultFromLastError());
}

TEST(Module, DoubleByteTest)
{
    EXPECT_TRUE(IsDoubleBytePair(0x95, 0x5C));
    EXPECT_TRUE(IsDoubleBytePair(0x81, 0x40));
    EXPECT_TRUE(IsDoubleBytePair(0x81, 0x7E));
    EXPECT_TRUE(IsDoubleBytePair(0x81, 0x80));
    EXPECT_TRUE(IsDoubleBytePair(0xE0, 0xFC));
    EXPECT_FALSE(IsDoubleBytePair(0x81, 0x7F));
    EXPECT_FALSE(IsDoubleBytePair(0x81, 0x3F));
    EXPECT_FALSE(IsDoubleBytePair(0x81, 0x20));
    EXPECT_FALSE(IsDoubleBytePair(0x81, 0xFD));
    EXPECT_FALSE(IsDoubleBytePair(0x81, 0x00));
    EXPECT_FALSE(IsDoubleBytePair(0x41, 0x40));         // 'A' is no lead byte
    EXPECT_FALSE(IsDoubleBytePair(0xB1, 0x40));         // half-width katakana is single-byte
    EXPECT_TRUE(IsLeadByte(0x81));
    EXPECT_FALSE(IsLeadByte(0xA0));

    EXPECT_TRUE(IsTrailByteAt("\x95\x5C", 1));
    EXPECT_FALSE(IsTrailByteAt("\x95\x5C", 0));
    // Scanned from the start: 0x95 0x95 is one character, so the 0x5C after it stands alone.
    EXPECT_FALSE(IsTrailByteAt("\x95\x95\x5C", 2));
    EXPECT_TRUE(IsTrailByteAt("\x95\x95\x5C", 1));
    EXPECT_FALSE(IsTrailByteAt("a\x81\x7F", 2));
    EXPECT_TRUE(IsTrailByteAt("ab\x82\xA0x", 3));
    EXPECT_FALSE(IsTrailByteAt("ab", 5));
    EXPECT_FALSE(IsTrailByteAt(NULL, 1));
}

namespace
{
struct BoxSeen
{
    std::string strText;
    bool bFound;
};

DWORD WINAPI AnswerMessageBox(void* param)
{
    BoxSeen* seen = static_cast<BoxSeen*>(param);
    HWND box = WaitForWindow(Sjis(u8"Vantori セットアップ").c_str(), "#32770", 10000);
    seen->bFound = box != NULL;
    if (box)
    {
        seen->strText = GetMessageBoxText(box);
        PressButton(box, IDNO);
    }
    return 0;
}
}

TEST(Module, ShowMessage)
{
    BoxSeen seen = {std::string(), false};
    HANDLE hThread = CreateThread(NULL, 0, AnswerMessageBox, &seen, 0, NULL);
    ASSERT_NE(nullptr, hThread);
    int nAnswer = ShowMessage(IDS_DXOFFER, MB_YESNO);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    ASSERT_TRUE(seen.bFound);
    EXPECT_EQ(IDNO, nAnswer);
    EXPECT_EQ(Sjis(u8"「Vantori」を使用するためにはDirectX 9.0c以上が必要です。\nここでセットアップを行いますか？"),
              seen.strText);
}
