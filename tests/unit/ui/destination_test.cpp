// The destination folder dialog: its path functions, the free-space rule through its seam, and
// the modal dialog on a thread of its own, driven through Win32 as a user would drive it.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <stdlib.h>
#include <vector>
#include <string>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/DestinationDlg.h"
#include "ui/Folder.h"

namespace {

const char kHyo[] = "\x95\x5c";   // 表 in code page 932: its second byte is a backslash

std::string BadPathText()
{
    return Sjis(u8"このセットアップ先は存在しないか、または有効なパス名ではありません。\n"
                u8"有効なセットアップ先を再度、選択してください。");
}

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(DestinationPaths, NameCharsAndPathValidation)
{
    EXPECT_TRUE(CheckNameChars("Program Files", false));
    EXPECT_TRUE(CheckNameChars("", false));
    EXPECT_FALSE(CheckNameChars(NULL, true));
    for (const char* bad : { "a/b", "a\"b", "a*b", "a:b", "a?b", "a<b", "a>b", "a|b" })
    {
        EXPECT_FALSE(CheckNameChars(bad, true)) << bad;
        EXPECT_FALSE(CheckNameChars(bad, false)) << bad;
    }
    EXPECT_FALSE(CheckNameChars("a\\b", false));
    EXPECT_TRUE(CheckNameChars("a\\b", true));
    // Second bytes of double-byte characters never match: 0x5C (表) and 0x7C (ポ, 0x83 0x7C).
    EXPECT_TRUE(CheckNameChars((std::string("x") + kHyo + "y").c_str(), false));
    EXPECT_TRUE(CheckNameChars("\x83\x7c", false));

    for (const char* good : { "C:\\", "C:", "", "C:\\Program Files\\Halvoro\\Pivora", "C:\\a\\",
                              "D:\\Apps\\a b\\c.d" })
        EXPECT_TRUE(ValidateFolderPath(good, false)) << good;
    for (const char* bad : { "C:\\a*b", "C:\\a?", "C:\\a|b", "C:\\a:b", "C:\\a/b", "C:\\a<b",
                             "C:\\a>b", "C:\\a\"b", "C:\\ a", "C:\\a.", "C:\\a ", "C:\\.a",
                             "C:\\..\\x", "C:\\a\\\\b", "\\\\server\\share", "C:\\ok\\bad?\\ok" })
        EXPECT_FALSE(ValidateFolderPath(bad, false)) << bad;
    // 表 is one level, not a level "\x95" followed by an empty one.
    EXPECT_TRUE(ValidateFolderPath((std::string("C:\\") + kHyo + "\\sub").c_str(), false));
    EXPECT_TRUE(ValidateFolderPath((std::string("C:\\") + kHyo).c_str(), false));

    // With parentOnly the last level is a file name and is not examined.
    EXPECT_TRUE(ValidateFolderPath("C:\\dir\\file?.txt", true));
    EXPECT_FALSE(ValidateFolderPath("C:\\dir\\file?.txt", false));
    EXPECT_FALSE(ValidateFolderPath("C:\\bad|dir\\file.txt", true));
}

TEST(DestinationPaths, FolderExistsAndCreateFolderPath)
{
    std::string base = MakeTempDir("pivdest");
    ASSERT_FALSE(base.empty());
    // Drive C: exists; drive Q: is not mapped in the test prefix.
    for (const char* path : { "C:\\", "C:", "c:\\", "Q:\\", "Q:", "", "\\\\nosuchserver\\share" })
        EXPECT_EQ(path[0] == 'C' || path[0] == 'c', FolderExists(path)) << path;
    EXPECT_FALSE(FolderExists(NULL));
    EXPECT_TRUE(FolderExists(base.c_str())) << base;
    EXPECT_TRUE(FolderExists(base.substr(0, base.size() - 1).c_str()));
    EXPECT_FALSE(FolderExists((base + "missing").c_str()));
    ASSERT_TRUE(WriteFileBytes(base + "file.txt", "x"));
    EXPECT_FALSE(FolderExists((base + "file.txt").c_str())) << "a file is not a folder";

    std::string three = base + "one\\two\\three";
    EXPECT_TRUE(CreateFolderPath(three.c_str(), false));
    EXPECT_TRUE(IsDirectory(three));
    EXPECT_TRUE(CreateFolderPath(three.c_str(), false)) << "existing levels are passed over";
    EXPECT_TRUE(CreateFolderPath((base + "x\\y\\").c_str(), false));
    EXPECT_TRUE(IsDirectory(base + "x\\y"));
    // A level that is a file stops the walk.
    EXPECT_FALSE(CreateFolderPath((base + "file.txt\\c").c_str(), false));
    // With parentOnly the last level is a file name and is not created.
    EXPECT_TRUE(CreateFolderPath((base + "p\\q\\setup.exe").c_str(), true));
    EXPECT_TRUE(IsDirectory(base + "p\\q"));
    EXPECT_FALSE(FileExists(base + "p\\q\\setup.exe"));
    EXPECT_TRUE(CreateFolderPath("C:\\", false));
    EXPECT_TRUE(CreateFolderPath("", false));
    RemoveTree(base);
}

TEST(DestinationPaths, DoubleByteLevelOnDisk)
{
    std::string base = MakeTempDir("pivdest");
    ASSERT_FALSE(base.empty());
    // Wine stores names outside ASCII only with a UTF-8 locale on the Unix side.
    std::string hyo = base + kHyo;
    if (!CreateDirectoryA(hyo.c_str(), NULL))
    {
        RemoveTree(base);
        GTEST_SKIP() << "the Wine prefix cannot store Japanese file names (no UTF-8 Unix locale)";
    }
    // A name ending in 表 keeps its last byte: the 0x5C is not a trailing backslash.
    EXPECT_TRUE(FolderExists(hyo.c_str()));
    EXPECT_TRUE(FolderExists((hyo + "\\").c_str()));

    // The level 表 is made as one folder, not as "\x95" and an empty level.
    EXPECT_TRUE(CreateFolderPath((hyo + "\\sub").c_str(), false));
    EXPECT_TRUE(IsDirectory(hyo + "\\sub"));
    std::string trailing = base + "x" + kHyo;
    EXPECT_TRUE(CreateFolderPath(trailing.c_str(), false));
    EXPECT_TRUE(IsDirectory(trailing));
    EXPECT_EQ(std::vector<std::string>({ std::string("x") + kHyo, kHyo }), ListFolder(base))
        << "a level was split at the second byte of 表";
    RemoveTree(base);
}

ULONGLONG g_nSeamBytes;
std::string g_strSeamPath;

// 0 bytes stands for a free space that cannot be read.
BOOL WINAPI FakeFreeSpace(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER,
                          PULARGE_INTEGER)
{
    g_strSeamPath = path ? path : "(null)";
    available->QuadPart = g_nSeamBytes;
    return g_nSeamBytes != 0;
}

TEST(DestinationPaths, FreeSpaceRuleIs100MBForTheUser)
{
    GetDiskFreeSpaceExProc saved = g_pGetDiskFreeSpaceEx;
    g_pGetDiskFreeSpaceEx = FakeFreeSpace;
    const struct { ULONGLONG bytes; bool room; } cases[] = {
        { 104857600ULL, true }, { 104857599ULL, false }, { 5ULL << 32, true }, { 0, false } };
    for (const auto& each : cases)
    {
        g_nSeamBytes = each.bytes;
        EXPECT_EQ(each.room, HasSetupRoom("D:\\Apps\\Pivora\\")) << each.bytes;
        EXPECT_EQ("D:\\Apps\\Pivora\\", g_strSeamPath) << "the path as typed";
    }
    g_pGetDiskFreeSpaceEx = saved;
}

// The dialog, modal on a thread of its own.
class CModalRun
{
public:
    explicit CModalRun(const char* initial) : m_Dialog(initial) {}
    ~CModalRun()
    {
        if (!m_hThread)
            return;
        // A failed test may leave a message box or the dialog open.
        for (int i = 0; i < 20 && WaitForSingleObject(m_hThread, 200) == WAIT_TIMEOUT; ++i)
        {
            if (HWND box = WaitForMessageBox(0, GetCurrentProcessId()))
                PressButton(box, IDOK);
            else if (HWND dlg = m_Dialog.GetHandle())
                PressButton(dlg, IDCANCEL);
        }
        CloseHandle(m_hThread);
    }

    // Runs the dialog and returns its window once it shows.
    HWND Begin()
    {
        m_hThread = CreateThread(NULL, 0, Run, this, 0, NULL);
        HWND hwnd = WaitForWindow(Sjis(u8"セットアップ先の選択").c_str(), "#32770", 10000);
        return m_hThread && hwnd == m_Dialog.GetHandle() ? hwnd : NULL;
    }
    bool Ended(DWORD timeout = 10000) { return WaitForSingleObject(m_hThread, timeout) == 0; }

    CDestinationDlg m_Dialog;
    INT_PTR m_nResult = -1;
    HANDLE m_hThread = NULL;

private:
    static DWORD WINAPI Run(void* parameter)
    {
        CModalRun* run = static_cast<CModalRun*>(parameter);
        CoInitialize(NULL);
        run->m_nResult = run->m_Dialog.DoModal(NULL, 0);
        CoUninitialize();
        return 0;
    }
};

// A visible icon in the message box.
bool HasIcon(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child) && SendMessageA(child, STM_GETICON, 0, 0) != 0)
            return true;
    return false;
}

// The message box of the dialog's refusal, checked and closed; the dialog must stay open.
void ExpectRefusal(CModalRun& run, HWND dlg, const std::string& text, HWND owner, bool icon,
                   const char* screenshot)
{
    HWND box = WaitForMessageBox(10000, GetCurrentProcessId());
    ASSERT_TRUE(box != NULL) << "no message box";
    EXPECT_EQ(text, GetMessageBoxText(box));
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"), GetWindowTextOf(box));
    EXPECT_EQ(owner, GetWindow(box, GW_OWNER));
    EXPECT_EQ(icon, HasIcon(box));
    EXPECT_EQ(std::vector<int>({ IDOK }), GetButtonIds(box));
    if (screenshot && !SaveWindowPng(box, ScreenshotPath(screenshot)))
        ADD_FAILURE() << "no screenshot " << screenshot;
    PressButton(box, IDOK);
    EXPECT_TRUE(WaitForWindowGone(box, 10000));
    EXPECT_FALSE(run.Ended(0)) << "a refusal closed the dialog";
    EXPECT_TRUE(IsWindowVisible(dlg));
}

TEST(DestinationDialog, ProposesTheFolderAndCancels)
{
    char programFiles[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, programFiles);
    // Cancelled by the button, by Escape in the edit control, and by the close box (WM_CLOSE,
    // which the dialog manager turns into IDCANCEL).
    const struct { const char* initial; std::string shown; UINT message; WPARAM wParam; } runs[]
    = {
        { NULL, std::string(programFiles) + "\\Halvoro\\Pivora", WM_COMMAND, IDCANCEL },
        { "E:\\Tools\\Pivora", "E:\\Tools\\Pivora", WM_KEYDOWN, VK_ESCAPE },
        { "E:\\x", "E:\\x", WM_SYSCOMMAND, SC_CLOSE } };
    for (const auto& each : runs)
    {
        CModalRun run(each.initial);
        HWND dlg = run.Begin();
        ASSERT_TRUE(dlg != NULL);
        EXPECT_EQ(each.shown, GetControlText(dlg, IDC_FOLDER_EDIT));
        if (!each.initial)
        {
            // Template 113 as the window shows it.
            EXPECT_EQ(Sjis(u8"開始(&S)"), GetControlText(dlg, IDOK));
            EXPECT_EQ(std::vector<int>({ IDC_BROWSE, IDOK, IDCANCEL }), GetButtonIds(dlg));
            EXPECT_EQ(Sjis(u8"セットアップ先のフォルダを選択して「開始」ボタンを押してください。"),
                      GetWindowTextOf(GetWindow(dlg, GW_CHILD)));
            EXPECT_TRUE(SaveWindowPng(dlg, ScreenshotPath("destination_dialog")));
        }
        HWND target = each.message == WM_KEYDOWN ? GetDlgItem(dlg, IDC_FOLDER_EDIT) : dlg;
        PostMessageA(target, each.message, each.wParam, each.message == WM_KEYDOWN ? 0x10001 : 0);
        ASSERT_TRUE(run.Ended()) << each.message;
        EXPECT_EQ(0, run.m_nResult) << each.message;
        const char* path = run.m_Dialog.m_Path.GetText();
        EXPECT_STREQ(each.initial ? each.initial : "", path ? path : "");
    }
}

TEST(DestinationDialog, RefusesBadPathsAndAcceptsANewOne)
{
    std::string base = MakeTempDir("pivdlg");
    ASSERT_FALSE(base.empty());
    ASSERT_TRUE(WriteFileBytes(base + "afile", "x"));
    CModalRun run(base.c_str());
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);

    // A malformed path: 121, owned by the dialog, with the information icon.
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "a|b").c_str());
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg, BadPathText(), dlg, true, "message_121");

    // A path that cannot be created gets the same message; Enter in the edit acts as OK.
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "afile\\x\\y").c_str());
    PostMessageA(GetDlgItem(dlg, IDC_FOLDER_EDIT), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ExpectRefusal(run, dlg, BadPathText(), dlg, true, NULL);

    // Three new levels on a volume with room: created, and the path kept as typed.
    std::string target = base + "lvl1\\lvl2\\lvl3\\";
    SetControlText(dlg, IDC_FOLDER_EDIT, target.c_str());
    PressButton(dlg, IDOK);
    ASSERT_TRUE(run.Ended()) << "refused on a volume with room";
    EXPECT_EQ(IDOK, run.m_nResult);
    EXPECT_EQ(target, std::string(run.m_Dialog.m_Path.GetText()));
    EXPECT_TRUE(IsDirectory(target));
    RemoveTree(base);
}

TEST(DestinationDialog, LowSpaceDriveGivesMessage122)
{
    const char* drive = getenv("PIVORA_LOWSPACE_DRIVE");
    if (!drive || !*drive)
        GTEST_SKIP() << "no low-space drive mapped (PIVORA_LOWSPACE_DRIVE)";
    std::string target = std::string(drive) + "\\PivoraDest\\Sub";
    CModalRun run(target.c_str());
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg,
                  Sjis(u8"セットアップ先に空き領域が不足しています。\n"
                       u8"別のドライブを選択するか、空き領域を増やしてください。\n\n"
                       u8"セットアップ先に 100MB の空き領域が必要です。"),
                  NULL, false, "message_122");
    EXPECT_TRUE(IsDirectory(target)) << "the levels are created before the space is checked";
    PressButton(dlg, IDCANCEL);
    RemoveTree(std::string(drive) + "\\PivoraDest");
}

// The folder browser that the dialog owns, once it shows.
HWND WaitForOwnedPopup(HWND owner)
{
    for (int i = 0; i < 200; ++i)
    {
        for (HWND hwnd = GetTopWindow(NULL); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (GetWindow(hwnd, GW_OWNER) == owner && IsWindowVisible(hwnd))
                return hwnd;
        Sleep(50);
    }
    return NULL;
}

TEST(DestinationDialog, BrowseButtonOpensTheFolderBrowserOnTheTypedFolder)
{
    std::string base = MakeTempDir("pivbrowse");
    ASSERT_FALSE(base.empty());
    std::string folder = base + "pick";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    CModalRun run(NULL);
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);

    // Cancelled: the text stays. Confirmed: the browser opened on the typed folder, and that
    // folder comes back.
    for (UINT button : { IDCANCEL, IDOK })
    {
        SetControlText(dlg, IDC_FOLDER_EDIT, (folder + "\\").c_str());
        PressButton(dlg, IDC_BROWSE);
        HWND browser = WaitForOwnedPopup(dlg);
        ASSERT_TRUE(browser != NULL) << "no folder browser";
        EXPECT_TRUE(SaveWindowPng(browser, ScreenshotPath("destination_browser")));
        PressButton(browser, button);
        EXPECT_TRUE(WaitForWindowGone(browser, 10000));
        EXPECT_EQ(button == IDOK ? folder : folder + "\\", GetControlText(dlg, IDC_FOLDER_EDIT));
    }

    PressButton(dlg, IDCANCEL);
    RemoveTree(base);
}

}  // namespace
