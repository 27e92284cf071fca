// The destination folder dialog: its path rules, the free-space rule through its seam, and what
// the end-to-end runs cannot reach: the proposal, Escape and the close box, the refusals with
// their message boxes, the folder browser and a volume short of room.
#include <gtest/gtest.h>
#include <objbase.h>
#include <stdlib.h>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include "ui/DestinationDlg.h"
#include "ui/Folder.h"

namespace {

const std::string kHyo = "\x95\x5c";   // 表 in code page 932: its second byte is a backslash

bool IsDirectory(const std::string& path) { return (GetFileAttributesA(path.c_str()) & 0x80000010) == 0x10; }

ULONGLONG g_nSeamBytes;   // 0: the free space cannot be read
std::string g_strSeamPath;
BOOL WINAPI FakeFreeSpace(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER, PULARGE_INTEGER)
{
    return g_strSeamPath = path, available->QuadPart = g_nSeamBytes, g_nSeamBytes != 0;
}

TEST(DestinationPaths, NamesExistenceCreationAndFreeSpace)
{
    EXPECT_FALSE(CheckNameChars("a\\b", false) || CheckNameChars(NULL, true) || !CheckNameChars("a\\b", true));
    // Second bytes never match: 表 is one level, not "\x95" and an empty one; ポ (0x83 0x7C) is no
    // bar. With parentOnly the file name is not examined.
    const std::string good[] = {"C:\\", "C:", "", "C:\\a\\", "D:\\Apps\\a b\\c.d", "C:\\" + kHyo + "\\sub",
                                "C:\\" + kHyo, "C:\\\x83\x7c"};
    for (const std::string& path : good)
        EXPECT_TRUE(ValidateFolderPath(path.c_str(), false)) << path;
    for (const char* bad : {"C:\\a*b", "C:\\a?", "C:\\a|b", "C:\\a:b", "C:\\a/b", "C:\\a<b", "C:\\a>b", "C:\\a\"b",
                            "C:\\ a", "C:\\a.", "C:\\a ", "C:\\.a", "C:\\..\\x", "C:\\a\\\\b", "\\\\server\\share", "C:\\ok\\bad?\\ok"})
        EXPECT_FALSE(ValidateFolderPath(bad, false)) << bad;
    EXPECT_TRUE(ValidateFolderPath("C:\\dir\\file?.txt", true));
    EXPECT_FALSE(ValidateFolderPath("C:\\bad|dir\\file.txt", true));

    const std::string base = MakeTempDir("pivdest");
    ASSERT_TRUE(!base.empty() && WriteFileBytes(base + "file.txt", "x"));
    // Drive Q: is not mapped in the test prefix; a file is not a folder.
    const struct { std::string path; bool exists; } exists[] = {{"C:\\", true}, {"C:", true}, {"Q:\\", false}, {"Q:", false},
        {"", false}, {"\\\\nosuchserver\\share", false}, {base, true}, {base.substr(0, base.size() - 1), true},
        {base + "missing", false}, {base + "file.txt", false}};
    for (const auto& e : exists)
        EXPECT_EQ(e.exists, FolderExists(e.path.c_str())) << e.path;
    // Under base: path, parentOnly, result, the folder that must then exist. A file stops the walk.
    const struct { const char* path; bool parentOnly, made; const char* folder; } creates[] = {{"1\\2\\3", false, true, "1\\2\\3"},
        {"1\\2\\3", false, true, "1\\2\\3"}, {"x\\y\\", false, true, "x\\y"}, {"file.txt\\c", false, false, ""},
        {"p\\q\\setup.exe", true, true, "p\\q"}};
    for (const auto& c : creates)
        EXPECT_TRUE(c.made == CreateFolderPath((base + c.path).c_str(), c.parentOnly) && IsDirectory(base + c.folder)) << c.path;
    EXPECT_FALSE(FileExists(base + "p\\q\\setup.exe"));
    GetDiskFreeSpaceExProc saved = g_pGetDiskFreeSpaceEx;
    g_pGetDiskFreeSpaceEx = FakeFreeSpace;
    for (ULONGLONG bytes : {104857600ULL, 104857599ULL, 5ULL << 32, 0ULL})
        EXPECT_TRUE(((g_nSeamBytes = bytes) >= 104857600ULL) == HasSetupRoom("D:\\P\\") && g_strSeamPath == "D:\\P\\") << bytes;
    g_pGetDiskFreeSpaceEx = saved;
    // Wine stores names outside ASCII only with a UTF-8 locale on the Unix side.
    if (!CreateDirectoryA((base + kHyo).c_str(), NULL))
        GTEST_SKIP() << "the Wine prefix cannot store Japanese file names";
    EXPECT_TRUE(FolderExists((base + kHyo + "\\").c_str()));
    EXPECT_TRUE(CreateFolderPath((base + kHyo + "\\sub").c_str(), false) && IsDirectory(base + kHyo + "\\sub"));
    EXPECT_TRUE(CreateFolderPath((base + "x" + kHyo).c_str(), false));
    EXPECT_EQ(std::vector<std::string>({"1", "file.txt", "p", "x", "x" + kHyo, kHyo}), ListFolder(base))
        << "a level was split at the second byte of 表";
    RemoveTree(base);
}

// The dialog, modal on a thread of its own; a failed test may leave a box or the dialog open.
struct CModalRun
{
    explicit CModalRun(const char* initial) : m_Dialog(initial) {}
    ~CModalRun()
    {
        for (int i = 0; i < 20 && !Ended(200); ++i)
            PressButton(WaitForMessageBox(0, GetCurrentProcessId()) ?: m_Dialog.GetHandle(), IDCANCEL);
        CloseHandle(m_hThread);
    }
    HWND Begin()   // the dialog's window once it shows
    {
        m_hThread = CreateThread(NULL, 0, Run, this, 0, NULL);
        return WaitForWindow(Sjis(u8"セットアップ先の選択").c_str(), "#32770", 10000) == m_Dialog.GetHandle() ? m_Dialog.GetHandle() : NULL;
    }
    bool Ended(DWORD timeout = 10000) { return WaitForSingleObject(m_hThread, timeout) == 0; }
    static DWORD WINAPI Run(void* parameter)   // with COM, as the folder browser needs it
    {
        CModalRun* run = static_cast<CModalRun*>(parameter);
        return CoInitialize(NULL), run->m_nResult = run->m_Dialog.DoModal(NULL, 0), CoUninitialize(), 0;
    }
    CDestinationDlg m_Dialog;
    INT_PTR m_nResult = -1;
    HANDLE m_hThread = NULL;
};

// The refusal's message box, checked and closed; the dialog must stay open.
void ExpectRefusal(CModalRun& run, HWND dlg, const char* utf8, HWND owner, bool icon)
{
    HWND box = WaitForMessageBox(10000, GetCurrentProcessId());
    ASSERT_TRUE(box != NULL) << "no message box";
    EXPECT_EQ(Sjis(utf8) + "|" + Sjis(u8"Vantori セットアップ"), GetMessageBoxText(box) + "|" + GetWindowTextOf(box));
    EXPECT_TRUE(owner == GetWindow(box, GW_OWNER) && icon == MessageBoxHasIcon(box) && GetButtonIds(box) == std::vector<int>{IDOK})
        << "owner, icon or buttons of " << utf8;
    PressButton(box, IDOK);
    EXPECT_TRUE(WaitForWindowGone(box, 10000));
    EXPECT_TRUE(!run.Ended(0) && IsWindowVisible(dlg)) << "a refusal closed the dialog";
}

TEST(DestinationDialog, ProposesRefusesBrowsesAndCancels)
{
    const std::string base = MakeTempDir("pivdlg");
    ASSERT_TRUE(WriteFileBytes(base + "afile", "x") && CreateDirectoryA((base + "pick").c_str(), NULL));
    CModalRun run(NULL);
    HWND dlg = run.Begin();
    ASSERT_TRUE(dlg != NULL);
    // In the Program Files folder of the program's own kind, on a 64-bit Windows (as the test
    // prefix is): "Program Files (x86)" for the 32-bit program, "Program Files" for the 64-bit one.
    EXPECT_EQ(std::string(sizeof(void*) == 4 ? "C:\\Program Files (x86)" : "C:\\Program Files") + "\\Halvoro\\Pivora",
              GetControlText(dlg, IDC_FOLDER_EDIT));
    EXPECT_EQ(std::vector<int>({IDC_BROWSE, IDOK, IDCANCEL}), GetButtonIds(dlg));
    // A malformed path and one that cannot be created (typed, then Enter): 121, owned by the
    // dialog, with the information icon.
    const char* bad = u8"このセットアップ先は存在しないか、または有効なパス名ではありません。\n"
                      u8"有効なセットアップ先を再度、選択してください。";
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "a|b").c_str());
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg, bad, dlg, true);
    SetControlText(dlg, IDC_FOLDER_EDIT, (base + "afile\\x\\y").c_str());
    PostMessageA(GetDlgItem(dlg, IDC_FOLDER_EDIT), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ExpectRefusal(run, dlg, bad, dlg, true);
    // A name that code page 932 lacks is refused too, never made under a look-alike name.
    wchar_t typed[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, (base + "Bj").c_str(), -1, typed, MAX_PATH);
    lstrcatW(typed, L"\u00F6rn");
    SendMessageW(GetDlgItem(dlg, IDC_FOLDER_EDIT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed));
    PressButton(dlg, IDOK);
    ExpectRefusal(run, dlg, bad, dlg, true);
    EXPECT_EQ(std::vector<std::string>({"afile", "pick"}), ListFolder(base));
    // The browser opens on the typed folder, gives it back when confirmed, changes nothing when cancelled.
    for (UINT button : {IDCANCEL, IDOK})
    {
        SetControlText(dlg, IDC_FOLDER_EDIT, (base + "pick\\").c_str());
        PressButton(dlg, IDC_BROWSE);
        HWND browser = NULL;
        for (int i = 0; i < 200 && !browser; ++i, Sleep(50))
            for (HWND hwnd = GetTopWindow(NULL); hwnd && !browser; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
                browser = GetWindow(hwnd, GW_OWNER) == dlg && IsWindowVisible(hwnd) ? hwnd : NULL;
        ASSERT_TRUE(browser != NULL) << "no folder browser";
        PressButton(browser, button);
        EXPECT_TRUE(WaitForWindowGone(browser, 10000));
        EXPECT_EQ(base + (button == IDOK ? "pick" : "pick\\"), GetControlText(dlg, IDC_FOLDER_EDIT));
    }
    // Drive T: is a tmpfs of 50 MiB: 122 with no owner and no icon, the levels made before the check.
    if (const char* drive = getenv("PIVORA_LOWSPACE_DRIVE"))
    {
        SetControlText(dlg, IDC_FOLDER_EDIT, (drive + std::string("\\PivoraDest\\Sub")).c_str());
        PressButton(dlg, IDOK);
        ExpectRefusal(run, dlg, u8"セットアップ先に空き領域が不足しています。\n別のドライブを選択するか、空き領域を増やしてください。"
                                u8"\n\nセットアップ先に 100MB の空き領域が必要です。", NULL, false);
        EXPECT_TRUE(IsDirectory(drive + std::string("\\PivoraDest\\Sub")));
        RemoveTree(drive + std::string("\\PivoraDest"));
    }
    PostMessageA(GetDlgItem(dlg, IDC_FOLDER_EDIT), WM_KEYDOWN, VK_ESCAPE, 0x10001);
    ASSERT_TRUE(run.Ended()) << "Escape";
    EXPECT_EQ(0, run.m_nResult);
    RemoveTree(base);

    CModalRun closed("E:\\x");
    ASSERT_TRUE(closed.Begin() != NULL);
    EXPECT_EQ("E:\\x", GetControlText(closed.m_Dialog.GetHandle(), IDC_FOLDER_EDIT));
    PostMessageA(closed.m_Dialog.GetHandle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(closed.Ended() && closed.m_nResult == 0) << "the close box gave " << closed.m_nResult;
}

}  // namespace
