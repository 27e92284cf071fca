// The destination folder dialog: its path rules, the free-space rule through its seam, and what
// the end-to-end runs cannot reach: the proposal, the refusals with their message boxes, the
// folder browser and a volume short of room.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <stdlib.h>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/DestinationDlg.h"
#include "ui/Folder.h"

namespace {

const std::string kHyo = "\x95\x5c";   // 表 in code page 932: its second byte is a backslash

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(DestinationPaths, NameCharsAndPathValidation)
{
    // Second bytes of double-byte characters never match: 0x5C (表) and 0x7C (ポ, 0x83 0x7C).
    const struct { std::string text; bool backslash, valid; } names[] = {
        {"Program Files", false, true}, {"", false, true}, {"a\\b", true, true}, {"a\\b", false, false},
        {"x" + kHyo + "y", false, true}, {"\x83\x7c", false, true}};
    for (const auto& n : names)
        EXPECT_EQ(n.valid, CheckNameChars(n.text.c_str(), n.backslash)) << n.text << " " << n.backslash;
    EXPECT_FALSE(CheckNameChars(NULL, true));
    for (const char* bad : {"a/b", "a\"b", "a*b", "a:b", "a?b", "a<b", "a>b", "a|b"})
        EXPECT_FALSE(CheckNameChars(bad, true) || CheckNameChars(bad, false)) << bad;

    // 表 is one level, not "\x95" and an empty one; with parentOnly the file name is not examined.
    const struct { std::string path; bool parentOnly, valid; } paths[] = {
        {"C:\\", false, true}, {"C:", false, true}, {"", false, true}, {"C:\\a\\", false, true},
        {"C:\\Program Files\\Halvoro\\Pivora", false, true}, {"D:\\Apps\\a b\\c.d", false, true},
        {"C:\\" + kHyo + "\\sub", false, true}, {"C:\\" + kHyo, false, true},
        {"C:\\dir\\file?.txt", true, true}, {"C:\\dir\\file?.txt", false, false},
        {"C:\\bad|dir\\file.txt", true, false}};
    for (const auto& p : paths)
        EXPECT_EQ(p.valid, ValidateFolderPath(p.path.c_str(), p.parentOnly)) << p.path;
    for (const char* bad : {"C:\\a*b", "C:\\a?", "C:\\a|b", "C:\\a:b", "C:\\a/b", "C:\\a<b", "C:\\a>b",
                            "C:\\a\"b", "C:\\ a", "C:\\a.", "C:\\a ", "C:\\.a", "C:\\..\\x", "C:\\a\\\\b",
                            "\\\\server\\share", "C:\\ok\\bad?\\ok"})
        EXPECT_FALSE(ValidateFolderPath(bad, false)) << bad;
}

TEST(DestinationPaths, FolderExistsAndCreateFolderPath)
{
    const std::string base = MakeTempDir("pivdest");
    ASSERT_FALSE(base.empty());
    ASSERT_TRUE(WriteFileBytes(base + "file.txt", "x"));
    // Drive C: exists; drive Q: is not mapped in the test prefix; a file is not a folder.
    const struct { std::string path; bool exists; } exists[] = {
        {"C:\\", true}, {"C:", true}, {"c:\\", true}, {"Q:\\", false}, {"Q:", false}, {"", false},
        {"\\\\nosuchserver\\share", false}, {base, true}, {base.substr(0, base.size() - 1), true},
        {base + "missing", false}, {base + "file.txt", false}};
    for (const auto& e : exists)
        EXPECT_EQ(e.exists, FolderExists(e.path.c_str())) << e.path;
    EXPECT_FALSE(FolderExists(NULL));

    // Path, parentOnly, result, the folder that must then exist. Existing levels are passed
    // over, a level that is a file stops the walk, with parentOnly the file name is not made.
    const struct { std::string path; bool parentOnly, made; std::string folder; } creates[] = {
        {base + "one\\two\\three", false, true, base + "one\\two\\three"},
        {base + "one\\two\\three", false, true, base + "one\\two\\three"},
        {base + "x\\y\\", false, true, base + "x\\y"}, {base + "file.txt\\c", false, false, base},
        {base + "p\\q\\setup.exe", true, true, base + "p\\q"}, {"C:\\", false, true, "C:\\"},
        {"", false, true, "C:\\"}};
    for (const auto& c : creates)
    {
        EXPECT_EQ(c.made, CreateFolderPath(c.path.c_str(), c.parentOnly)) << c.path;
        EXPECT_TRUE(IsDirectory(c.folder)) << c.path;
    }
    EXPECT_FALSE(FileExists(base + "p\\q\\setup.exe"));

    // Wine stores names outside ASCII only with a UTF-8 locale on the Unix side. A name ending
    // in 表 keeps its last byte, and 表 is made as one level.
    if (!CreateDirectoryA((base + kHyo).c_str(), NULL))
    {
        RemoveTree(base);
        GTEST_SKIP() << "the Wine prefix cannot store Japanese file names (no UTF-8 Unix locale)";
    }
    EXPECT_TRUE(FolderExists((base + kHyo + "\\").c_str()));
    EXPECT_TRUE(CreateFolderPath((base + kHyo + "\\sub").c_str(), false));
    EXPECT_TRUE(CreateFolderPath((base + "x" + kHyo).c_str(), false));
    EXPECT_TRUE(IsDirectory(base + kHyo + "\\sub"));
    EXPECT_EQ(std::vector<std::string>({"file.txt", "one", "p", "x", "x" + kHyo, kHyo}), ListFolder(base))
        << "a level was split at the second byte of 表";
    RemoveTree(base);
}

ULONGLONG g_nSeamBytes;
std::string g_strSeamPath;

// 0 bytes stands for a free space that cannot be read.
BOOL WINAPI FakeFreeSpace(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER, PULARGE_INTEGER)
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
        {104857600ULL, true}, {104857599ULL, false}, {5ULL << 32, true}, {0, false}};
    for (const auto& each : cases)
    {
        g_nSeamBytes = each.bytes;
        EXPECT_EQ(each.room, HasSetupRoom("D:\\Apps\\Pivora\\")) << each.bytes;
        EXPECT_EQ("D:\\Apps\\Pivora\\", g_strSeamPath) << "the path as typed";
    }
    g_pGetDiskFreeSpaceEx = saved;
}

// The dialog, modal on a thread of its own; a failed test may leave a box or the dialog open.
class CModalRun
{
public:
    explicit CModalRun(const char* initial) : m_Dialog(initial) {}
    ~CModalRun()
    {
        for (int i = 0; m_hThread && i < 20 && !Ended(200); ++i)
            if (HWND box = WaitForMessageBox(0, GetCurrentProcessId()))
                PressButton(box, IDOK);
            else if (m_Dialog.GetHandle())
                PressButton(m_Dialog.GetHandle(), IDCANCEL);
        if (m_hThread)
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

bool HasIcon(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
            SendMessageA(child, STM_GETICON, 0, 0) != 0)
            return true;
    return false;
}

// The refusal's message box, checked and closed; the dialog must stay open.
void ExpectRefusal(CModalRun& run, HWND dlg, const char* utf8, HWND owner, bool icon, const char* shot)
{
    HWND box = WaitForMessageBox(10000, GetCurrentProcessId());
    ASSERT_TRUE(box != NULL) << "no message box";
    EXPECT_EQ(Sjis(utf8), GetMessageBoxText(box));
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"), GetWindowTextOf(box));
    EXPECT_EQ(owner, GetWindow(box, GW_OWNER));
    EXPECT_EQ(icon, HasIcon(box));
    EXPECT_EQ(std::vector<int>({IDOK}), GetButtonIds(box));
    EXPECT_TRUE(!shot || SaveWindowPng(box, ScreenshotPath(shot))) << shot;
    PressButton(box, IDOK);
    EXPECT_TRUE(WaitForWindowGone(box, 10000));
    EXPECT_FALSE(run.Ended(0)) << "a refusal closed the dialog";
    EXPECT_TRUE(IsWindowVisible(dlg));
}

const char kBadPath[] = u8"このセットアップ先は存在しないか、または有効なパス名ではありません。\n"
                        u8"有効なセットアップ先を再度、選択してください。";

TEST(DestinationDialog, ProposesTheFolderAndCancelsByEscapeAndCloseBox)
{
    char programFiles[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, programFiles);
    const struct { const char* initial; std::string shown; UINT message; WPARAM wParam; } runs[] = {
        {NULL, std::string(programFiles) + "\\Halvoro\\Pivora", WM_KEYDOWN, VK_ESCAPE},
        {"E:\\x", "E:\\x", WM_SYSCOMMAND, SC_CLOSE}};
    for (const auto& each : runs)
    {
        CModalRun run(each.initial);
        HWND dlg = run.Begin();
        ASSERT_TRUE(dlg != NULL);
        EXPECT_EQ(each.shown, GetControlText(dlg, IDC_FOLDER_EDIT));
        if (!each.initial)
        {
            EXPECT_EQ(Sjis(u8"開始(&S)"), GetControlText(dlg, IDOK));
            EXPECT_EQ(std::vector<int>({IDC_BROWSE, IDOK, IDCANCEL}), GetButtonIds(dlg));
            EXPECT_EQ(Sjis(u8"セットアップ先のフォルダを選択して「開始」ボタンを押してください。"),
                      GetWindowTextOf(GetWindow(dlg, GW_CHILD)));
            EXPECT_TRUE(SaveWindowPng(dlg, ScreenshotPath("destination_dialog")));
        }
        const bool key = each.message == WM_KEYDOWN;
        PostMessageA(key ? GetDlgItem(dlg, IDC_FOLDER_EDIT) : dlg, each.message, each.wParam, key ? 0x10001 : 0);
        ASSERT_TRUE(run.Ended()) << each.message;
        EXPECT_EQ(0, run.m_nResult) << each.message;
        const char* path = run.m_Dialog.m_Path.GetText();
        EXPECT_STREQ(each.initial ? each.initial : "", path ? path : "");
    }
}

TEST(DestinationDialog, RefusesBadPathsBrowsesAndKeepsTheTrailingBackslash)
{
    const std::string base = MakeTempDir("pivdlg");
    ASSERT_FALSE(base.empty());
    ASSERT_TRUE(WriteFileBytes(base + "afile", "x"));
    ASSERT_TRUE(CreateDirectoryA((base + "pick").c_str(), NULL));
    CModalRun run(base.c_str());
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);

    // A malformed path: 121, owned by the dialog, with the information icon. A path that cannot
    // be created gets the same message; Enter in the edit acts as OK.
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "a|b").c_str());
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg, kBadPath, dlg, true, "message_121");
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "afile\\x\\y").c_str());
    PostMessageA(GetDlgItem(dlg, IDC_FOLDER_EDIT), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ExpectRefusal(run, dlg, kBadPath, dlg, true, NULL);

    // The browser opens on the typed folder (the one it gives back when confirmed); cancelled,
    // it leaves the text as it was.
    for (UINT button : {IDCANCEL, IDOK})
    {
        SetControlText(dlg, IDC_FOLDER_EDIT, (base + "pick\\").c_str());
        PressButton(dlg, IDC_BROWSE);
        HWND browser = NULL;
        for (int i = 0; i < 200 && !browser; ++i, Sleep(50))
            for (HWND hwnd = GetTopWindow(NULL); hwnd && !browser; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
                if (GetWindow(hwnd, GW_OWNER) == dlg && IsWindowVisible(hwnd))
                    browser = hwnd;
        ASSERT_TRUE(browser != NULL) << "no folder browser";
        EXPECT_TRUE(SaveWindowPng(browser, ScreenshotPath("destination_browser")));
        PressButton(browser, button);
        EXPECT_TRUE(WaitForWindowGone(browser, 10000));
        EXPECT_EQ(base + (button == IDOK ? "pick" : "pick\\"), GetControlText(dlg, IDC_FOLDER_EDIT));
    }

    // Accepted as typed, trailing backslash and all.
    const std::string target = base + "lvl1\\lvl2\\";
    SetControlText(dlg, IDC_FOLDER_EDIT, target.c_str());
    PressButton(dlg, IDOK);
    ASSERT_TRUE(run.Ended()) << "refused on a volume with room";
    EXPECT_EQ(IDOK, run.m_nResult);
    EXPECT_STREQ(target.c_str(), run.m_Dialog.m_Path.GetText());
    RemoveTree(base);
}

TEST(DestinationDialog, LowSpaceDriveGivesMessage122)
{
    const char* drive = getenv("PIVORA_LOWSPACE_DRIVE");
    if (!drive || !*drive)
        GTEST_SKIP() << "no low-space drive mapped (PIVORA_LOWSPACE_DRIVE)";
    const std::string target = std::string(drive) + "\\PivoraDest\\Sub";
    CModalRun run(target.c_str());
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg, u8"セットアップ先に空き領域が不足しています。\n"
                            u8"別のドライブを選択するか、空き領域を増やしてください。\n\n"
                            u8"セットアップ先に 100MB の空き領域が必要です。", NULL, false, "message_122");
    EXPECT_TRUE(IsDirectory(target)) << "the levels are created before the space is checked";
    PressButton(dlg, IDCANCEL);
    RemoveTree(std::string(drive) + "\\PivoraDest");
}

}  // namespace
