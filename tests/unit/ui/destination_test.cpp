// The destination folder dialog: its path functions on their own, the free-space rule through
// its seam, and the modal dialog run on a thread of its own and driven from the test's thread
// through Win32, as a user would drive it.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <stdlib.h>
#include <algorithm>
#include <vector>
#include <string>
#include "common/DialogDriver.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/DestinationDlg.h"

namespace {

// 表 in code page 932: its second byte is a backslash.
const char kHyo[] = "\x95\x5c";

std::string BadPathText()
{
    return Sjis(u8"このセットアップ先は存在しないか、または有効なパス名ではありません。\n"
                u8"有効なセットアップ先を再度、選択してください。");
}

std::string DiskFullText()
{
    return Sjis(u8"セットアップ先に空き領域が不足しています。\n"
                u8"別のドライブを選択するか、空き領域を増やしてください。\n\n"
                u8"セットアップ先に 100MB の空き領域が必要です。");
}

// Whether file names outside ASCII can be stored: Wine needs a UTF-8 locale on the Unix side
// for them, which a bare test machine may lack.
bool CanStoreJapaneseNames()
{
    std::string probe = MakeTempDir("pivname") + kHyo;
    bool made = CreateDirectoryA(probe.c_str(), NULL) != 0;
    RemoveTree(probe.substr(0, probe.size() - 2));
    return made;
}

#define SKIP_WITHOUT_JAPANESE_NAMES()                                                        \
    if (!CanStoreJapaneseNames())                                                            \
    GTEST_SKIP() << "the Wine prefix cannot store Japanese file names (no UTF-8 Unix locale)"

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Replaces the free-space query for the life of the object.
class CFreeSpaceSeam
{
public:
    explicit CFreeSpaceSeam(ULONGLONG available, bool fail = false)
    {
        s_nAvailable = available;
        s_bFail = fail;
        s_nCalls = 0;
        s_strPath.clear();
        m_pSaved = g_pGetDiskFreeSpaceEx;
        g_pGetDiskFreeSpaceEx = Fake;
    }
    ~CFreeSpaceSeam() { g_pGetDiskFreeSpaceEx = m_pSaved; }

    static BOOL WINAPI Fake(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                            PULARGE_INTEGER free)
    {
        ++s_nCalls;
        s_strPath = path ? path : "(null)";
        if (s_bFail)
        {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        if (available)
            available->QuadPart = s_nAvailable;
        if (total)
            total->QuadPart = s_nAvailable * 2;
        if (free)
            free->QuadPart = s_nAvailable;
        return TRUE;
    }

    static ULONGLONG s_nAvailable;
    static bool s_bFail;
    static int s_nCalls;
    static std::string s_strPath;
    GetDiskFreeSpaceExProc m_pSaved;
};
ULONGLONG CFreeSpaceSeam::s_nAvailable;
bool CFreeSpaceSeam::s_bFail;
int CFreeSpaceSeam::s_nCalls;
std::string CFreeSpaceSeam::s_strPath;

TEST(DestinationPaths, CheckNameChars)
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
    EXPECT_TRUE(CheckNameChars(kHyo, false));
    EXPECT_TRUE(CheckNameChars("\x83\x7c", false));
    EXPECT_TRUE(CheckNameChars((std::string("x") + kHyo + "y").c_str(), false));
}

TEST(DestinationPaths, ValidateFolderPath)
{
    for (const char* good : { "C:\\", "C:", "", "C:\\Program Files\\Halvoro\\Pivora",
                              "C:\\a\\", "D:\\Apps\\a b\\c.d", "C:\\a\\b\\" })
        EXPECT_TRUE(ValidateFolderPath(good, false)) << good;
    for (const char* bad : { "C:\\a*b", "C:\\a?", "C:\\a|b", "C:\\a:b", "C:\\a/b", "C:\\a<b",
                             "C:\\a>b", "C:\\a\"b", "C:\\ a", "C:\\a.", "C:\\a ", "C:\\.a",
                             "C:\\..\\x", "C:\\a\\\\b", "\\\\server\\share", "C:\\ok\\bad?\\ok" })
        EXPECT_FALSE(ValidateFolderPath(bad, false)) << bad;

    // 表 is one level, not a level "\x95" followed by an empty one.
    std::string hyo = std::string("C:\\") + kHyo + "\\sub";
    EXPECT_TRUE(ValidateFolderPath(hyo.c_str(), false));
    EXPECT_TRUE(ValidateFolderPath((std::string("C:\\") + kHyo).c_str(), false));

    // With parentOnly the last level is a file name and is not examined.
    EXPECT_TRUE(ValidateFolderPath("C:\\dir\\file?.txt", true));
    EXPECT_FALSE(ValidateFolderPath("C:\\dir\\file?.txt", false));
    EXPECT_FALSE(ValidateFolderPath("C:\\bad|dir\\file.txt", true));
}

TEST(DestinationPaths, FolderExists)
{
    std::string base = MakeTempDir("pivdest");
    ASSERT_FALSE(base.empty());
    EXPECT_TRUE(FolderExists("C:\\"));
    EXPECT_TRUE(FolderExists("C:"));
    EXPECT_TRUE(FolderExists("c:\\"));
    EXPECT_FALSE(FolderExists("Q:\\")) << "drive Q: is not mapped in the test prefix";
    EXPECT_FALSE(FolderExists("Q:"));
    EXPECT_FALSE(FolderExists(""));
    EXPECT_FALSE(FolderExists(NULL));
    EXPECT_FALSE(FolderExists("\\\\nosuchserver\\share"));
    EXPECT_TRUE(FolderExists(base.c_str())) << base;
    EXPECT_TRUE(FolderExists(base.substr(0, base.size() - 1).c_str()));
    EXPECT_FALSE(FolderExists((base + "missing").c_str()));
    ASSERT_TRUE(WriteFileBytes(base + "file.txt", "x"));
    EXPECT_FALSE(FolderExists((base + "file.txt").c_str())) << "a file is not a folder";

    RemoveTree(base);
}

TEST(DestinationPaths, FolderExistsWithADoubleByteLevel)
{
    SKIP_WITHOUT_JAPANESE_NAMES();
    std::string base = MakeTempDir("pivdest");
    ASSERT_FALSE(base.empty());
    // A name ending in 表 keeps its last byte: the 0x5C is not a trailing backslash.
    std::string hyo = base + kHyo;
    ASSERT_TRUE(CreateDirectoryA(hyo.c_str(), NULL));
    EXPECT_TRUE(FolderExists(hyo.c_str()));
    EXPECT_TRUE(FolderExists((hyo + "\\").c_str()));
    RemoveTree(base);
}

TEST(DestinationPaths, CreateFolderPath)
{
    std::string base = MakeTempDir("pivdest");
    ASSERT_FALSE(base.empty());

    std::string three = base + "one\\two\\three";
    EXPECT_TRUE(CreateFolderPath(three.c_str(), false));
    EXPECT_TRUE(IsDirectory(base + "one\\two\\three"));
    EXPECT_TRUE(CreateFolderPath(three.c_str(), false)) << "existing levels are passed over";

    EXPECT_TRUE(CreateFolderPath((base + "x\\y\\").c_str(), false));
    EXPECT_TRUE(IsDirectory(base + "x\\y"));

    // The second level is a file: the walk stops there, the third level is not tried.
    ASSERT_TRUE(CreateDirectoryA((base + "a").c_str(), NULL));
    ASSERT_TRUE(WriteFileBytes(base + "a\\blocked", "x"));
    EXPECT_FALSE(CreateFolderPath((base + "a\\blocked\\c").c_str(), false));

    // With parentOnly the last level is a file name and is not created.
    EXPECT_TRUE(CreateFolderPath((base + "p\\q\\setup.exe").c_str(), true));
    EXPECT_TRUE(IsDirectory(base + "p\\q"));
    EXPECT_FALSE(FileExists(base + "p\\q\\setup.exe"));

    EXPECT_TRUE(CreateFolderPath("C:\\", false));
    EXPECT_TRUE(CreateFolderPath("", false));
    RemoveTree(base);
}

TEST(DestinationPaths, CreateFolderPathWithADoubleByteLevel)
{
    SKIP_WITHOUT_JAPANESE_NAMES();
    std::string base = MakeTempDir("pivdest");
    ASSERT_FALSE(base.empty());
    // The level 表 is made as one folder, not as "\x95" and an empty level.
    std::string hyo = base + kHyo + "\\sub";
    EXPECT_TRUE(CreateFolderPath(hyo.c_str(), false));
    EXPECT_TRUE(IsDirectory(hyo));
    EXPECT_TRUE(IsDirectory(base + kHyo));
    std::string trailing = base + "x" + kHyo;
    EXPECT_TRUE(CreateFolderPath(trailing.c_str(), false));
    EXPECT_TRUE(IsDirectory(trailing));
    EXPECT_EQ(std::vector<std::string>({ std::string("x") + kHyo, kHyo }), ListFolder(base))
        << "a level was split at the second byte of 表";
    RemoveTree(base);
}

TEST(DestinationPaths, FreeSpaceRuleIs100MBForTheUser)
{
    {
        CFreeSpaceSeam seam(104857600ULL);
        EXPECT_TRUE(HasSetupRoom("D:\\Apps\\Pivora\\"));
        EXPECT_EQ("D:\\Apps\\Pivora\\", CFreeSpaceSeam::s_strPath) << "the path as typed";
        CFreeSpaceSeam::s_nAvailable = 104857599ULL;
        EXPECT_FALSE(HasSetupRoom("D:\\Apps\\Pivora"));
        CFreeSpaceSeam::s_nAvailable = 5ULL << 32;
        EXPECT_TRUE(HasSetupRoom("D:\\Apps\\Pivora"));
        CFreeSpaceSeam::s_bFail = true;
        EXPECT_FALSE(HasSetupRoom("D:\\Apps\\Pivora")) << "an unreadable free space";
    }
    EXPECT_TRUE(g_pGetDiskFreeSpaceEx != CFreeSpaceSeam::Fake);
}

// ---------------------------------------------------------------------------------------------
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
            HWND box = WaitForMessageBox(0, GetCurrentProcessId());
            if (box)
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
        if (!m_hThread)
            return NULL;
        HWND hwnd = WaitForWindow(Sjis(u8"セットアップ先の選択").c_str(), "#32770", 10000);
        if (hwnd && hwnd != m_Dialog.GetHandle())
            return NULL;
        return hwnd;
    }
    bool Ended(DWORD timeout = 10000)
    {
        return WaitForSingleObject(m_hThread, timeout) == WAIT_OBJECT_0;
    }

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
    {
        char cls[32];
        GetClassNameA(child, cls, sizeof(cls));
        if (lstrcmpiA(cls, "Static") == 0 &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child) && SendMessageA(child, STM_GETICON, 0, 0) != 0)
            return true;
    }
    return false;
}

// The message box of the dialog's refusal, checked and closed; the dialog must stay open.
void ExpectRefusal(CModalRun& run, HWND dlg, const std::string& text, HWND owner, bool icon,
                   const char* screenshot = NULL)
{
    HWND box = WaitForMessageBox(10000, GetCurrentProcessId());
    ASSERT_TRUE(box != NULL) << "no message box";
    EXPECT_EQ(text, GetMessageBoxText(box));
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"), GetWindowTextOf(box));
    EXPECT_EQ(owner, GetWindow(box, GW_OWNER));
    EXPECT_EQ(icon, HasIcon(box));
    EXPECT_EQ(std::vector<int>({ IDOK }), GetButtonIds(box));
    if (screenshot)
    {
        EXPECT_TRUE(SaveWindowPng(box, ScreenshotPath(screenshot)));
    }
    PressButton(box, IDOK);
    EXPECT_TRUE(WaitForWindowGone(box, 10000));
    EXPECT_FALSE(run.Ended(0)) << "a refusal closed the dialog";
    EXPECT_TRUE(IsWindowVisible(dlg));
}

std::string ProgramFilesProposal()
{
    char folder[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, folder);
    return std::string(folder) + "\\Halvoro\\Pivora";
}

TEST(DestinationDialog, ProposesTheFolderAndCancels)
{
    {
        CModalRun run(NULL);
        HWND dlg = run.Begin();
        ASSERT_TRUE(dlg != NULL);
        EXPECT_EQ(ProgramFilesProposal(), GetControlText(dlg, IDC_FOLDER_EDIT));
        EXPECT_EQ(GetDlgItem(dlg, IDC_FOLDER_EDIT), run.m_Dialog.m_hEdit);

        // Template 113 as the window shows it.
        EXPECT_EQ(Sjis(u8"開始(&S)"), GetControlText(dlg, IDOK));
        EXPECT_EQ(Sjis(u8"中止"), GetControlText(dlg, IDCANCEL));
        EXPECT_EQ(Sjis(u8"選択(&R)..."), GetControlText(dlg, IDC_BROWSE));
        EXPECT_EQ(std::vector<int>({ IDC_BROWSE, IDOK, IDCANCEL }), GetButtonIds(dlg));
        EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongA(GetDlgItem(dlg, IDOK), GWL_STYLE) & 0x0F);
        EXPECT_NE(0, GetWindowLongA(dlg, GWL_STYLE) & WS_SYSMENU);
        HWND label = GetWindow(dlg, GW_CHILD);
        EXPECT_EQ(Sjis(u8"セットアップ先のフォルダを選択して「開始」ボタンを押してください。"),
                  GetWindowTextOf(label));
        RECT units = { 0, 0, 241, 77 };
        MapDialogRect(dlg, &units);
        RECT client;
        GetClientRect(dlg, &client);
        EXPECT_EQ(units.right, client.right);
        EXPECT_EQ(units.bottom, client.bottom);
        EXPECT_TRUE(SaveWindowPng(dlg, ScreenshotPath("destination_dialog")));

        PressButton(dlg, IDCANCEL);
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(0, run.m_nResult);
        EXPECT_STREQ("", run.m_Dialog.m_Path.GetText() ? run.m_Dialog.m_Path.GetText() : "");
    }
    {
        CModalRun run("E:\\Tools\\Pivora");
        HWND dlg = run.Begin();
        ASSERT_TRUE(dlg != NULL);
        EXPECT_EQ("E:\\Tools\\Pivora", GetControlText(dlg, IDC_FOLDER_EDIT));
        // Escape in the edit control cancels.
        PostMessageA(GetDlgItem(dlg, IDC_FOLDER_EDIT), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(0, run.m_nResult);
        EXPECT_STREQ("E:\\Tools\\Pivora", run.m_Dialog.m_Path.GetText());
    }
    {
        // The close box: WM_CLOSE, which the dialog manager turns into IDCANCEL.
        CModalRun run("E:\\x");
        HWND dlg = run.Begin();
        ASSERT_TRUE(dlg != NULL);
        PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(0, run.m_nResult);
    }
}

TEST(DestinationDialog, RefusesWithTheMessagesAndAcceptsANewPath)
{
    std::string base = MakeTempDir("pivdlg");
    ASSERT_FALSE(base.empty());
    ASSERT_TRUE(WriteFileBytes(base + "afile", "x"));
    CFreeSpaceSeam seam(104857599ULL);

    CModalRun run(base.c_str());
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);
    EXPECT_EQ(base, GetControlText(dlg, IDC_FOLDER_EDIT));

    // A malformed path: 121, owned by the dialog, with the information icon.
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "a|b").c_str());
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg, BadPathText(), dlg, true, "message_121");
    EXPECT_EQ(0, CFreeSpaceSeam::s_nCalls);

    // A path that cannot be created gets the same message; Enter in the edit acts as OK.
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "afile\\x\\y").c_str());
    PostMessageA(GetDlgItem(dlg, IDC_FOLDER_EDIT), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ExpectRefusal(run, dlg, BadPathText(), dlg, true);

    // One byte short of 100 MB: 122, without owner and without icon. The levels stay created.
    std::string target = base + "lvl1\\lvl2\\lvl3\\";
    SetControlText(dlg, IDC_FOLDER_EDIT, target.c_str());
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg, DiskFullText(), NULL, false);
    EXPECT_EQ(1, CFreeSpaceSeam::s_nCalls);
    EXPECT_EQ(target, CFreeSpaceSeam::s_strPath);
    EXPECT_TRUE(IsDirectory(base + "lvl1\\lvl2\\lvl3"));

    // Exactly 100 MB: accepted, and the path is kept as typed, trailing backslash and all.
    RemoveTree(base + "lvl1");
    ASSERT_FALSE(IsDirectory(base + "lvl1"));
    CFreeSpaceSeam::s_nAvailable = 104857600ULL;
    PressButton(dlg, IDOK);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(IDOK, run.m_nResult);
    EXPECT_EQ(target, std::string(run.m_Dialog.m_Path.GetText()));
    EXPECT_TRUE(IsDirectory(base + "lvl1\\lvl2\\lvl3"));
    EXPECT_TRUE(run.m_Dialog.GetHandle() == NULL);
    RemoveTree(base);
}

TEST(DestinationDialog, AcceptsAPathOnARealVolume)
{
    std::string base = MakeTempDir("pivdlg");
    ASSERT_FALSE(base.empty());
    CModalRun run(NULL);
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);
    std::string target = base + "Halvoro\\Pivora\\Data";
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
    ExpectRefusal(run, dlg, DiskFullText(), NULL, false, "message_122");
    EXPECT_TRUE(IsDirectory(target)) << "the levels are created before the space is checked";
    PressButton(dlg, IDCANCEL);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(0, run.m_nResult);
    RemoveTree(std::string(drive) + "\\PivoraDest");
}

// The folder browser that the dialog owns, once it shows.
HWND WaitForOwnedPopup(HWND owner)
{
    struct Find
    {
        HWND owner;
        HWND found;
        static BOOL CALLBACK Each(HWND hwnd, LPARAM param)
        {
            Find* find = reinterpret_cast<Find*>(param);
            if (GetWindow(hwnd, GW_OWNER) == find->owner && IsWindowVisible(hwnd))
            {
                find->found = hwnd;
                return FALSE;
            }
            return TRUE;
        }
    };
    for (int i = 0; i < 200; ++i)
    {
        Find find = { owner, NULL };
        EnumWindows(Find::Each, reinterpret_cast<LPARAM>(&find));
        if (find.found)
            return find.found;
        Sleep(50);
    }
    return NULL;
}

bool HasChildWithText(HWND parent, const std::string& text)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetWindowTextOf(child) == text)
            return true;
    return false;
}

TEST(DestinationDialog, BrowseButtonOpensTheFolderBrowserOnTheTypedFolder)
{
    std::string base = MakeTempDir("pivbrowse");
    ASSERT_FALSE(base.empty());
    std::string folder = base + "pick";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));

    CModalRun run(folder.c_str());
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);

    // Cancelled: the edit text stays.
    PressButton(dlg, IDC_BROWSE);
    HWND browser = WaitForOwnedPopup(dlg);
    ASSERT_TRUE(browser != NULL) << "no folder browser";
    EXPECT_TRUE(HasChildWithText(browser, Sjis(u8"セットアップ先を選択してください。")));
    EXPECT_TRUE(SaveWindowPng(browser, ScreenshotPath("destination_browser")));
    PressButton(browser, IDCANCEL);
    EXPECT_TRUE(WaitForWindowGone(browser, 10000));
    EXPECT_EQ(folder, GetControlText(dlg, IDC_FOLDER_EDIT));

    // Confirmed: the browser opened on the typed folder, and that folder comes back.
    SetControlText(dlg, IDC_FOLDER_EDIT, (folder + "\\").c_str());
    PressButton(dlg, IDC_BROWSE);
    browser = WaitForOwnedPopup(dlg);
    ASSERT_TRUE(browser != NULL);
    PressButton(browser, IDOK);
    EXPECT_TRUE(WaitForWindowGone(browser, 10000));
    EXPECT_EQ(folder, GetControlText(dlg, IDC_FOLDER_EDIT));

    PressButton(dlg, IDCANCEL);
    ASSERT_TRUE(run.Ended());
    RemoveTree(base);
}

}  // namespace
