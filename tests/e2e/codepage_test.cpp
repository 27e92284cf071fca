// A system whose ANSI code page is not 932 (run in a Wine session of code page 1252): every text
// of a run reaches the screen as the resources hold it, read back in UTF-16.
#include "e2e/Scenario.h"
#include "driver/DialogDriver.h"

namespace {

class CodePage1252 : public ScenarioTest
{
};

std::vector<std::wstring> Wide(const std::vector<const char*>& utf8)
{
    std::vector<std::wstring> texts;
    for (const char* text : utf8)
        texts.push_back(WideFromUtf8(text));
    return texts;
}

// A completed run (destination dialog, wait dialog, the installer's window brought forward, the
// restart question) and one stopped at the destination (the message that the setup was
// interrupted), with a screenshot of each window.
TEST_F(CodePage1252, EveryTextReadsAsTheResourcesHoldIt)
{
    ASSERT_EQ(1252u, GetACP()) << "to be run in the Wine session of code page 1252";
    SetupRun run = Run();
    run.screenshotPrefix = "cp1252";
    run.onMessage = [](const SeenMessage&) { return IDNO; };
    std::wstring destinationTitle, waitTitle;
    std::vector<std::wstring> destinationTexts, waitTexts;
    const auto typeDestination = run.onDestination;
    run.onDestination = [&](HWND dialog) {
        destinationTitle = GetWindowTextWide(dialog);
        destinationTexts = GetChildTextsWide(dialog);
        return typeDestination(dialog);
    };
    run.onIdle = [&](DWORD processId) {
        HWND wait = FindProcessDialog(processId, 0);
        if (!waitTitle.empty() || !wait || GetDlgItem(wait, 1005) || GetDlgItem(wait, 0xFFFF))
            return;
        waitTitle = GetWindowTextWide(wait);
        waitTexts = GetChildTextsWide(wait);
        SaveWindowPng(wait, ScreenshotPath("cp1252-wait"));
    };
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(WideFromUtf8(u8"セットアップ先の選択"), destinationTitle);
    EXPECT_EQ(Wide({u8"セットアップ先のフォルダを選択して「開始」ボタンを押してください。", u8"選択(&R)...", u8"",
                    u8"開始(&S)", u8"中止"}), destinationTexts);
    EXPECT_EQ(WideFromUtf8(Messages::Utf8(108)), waitTitle);
    EXPECT_EQ(Wide({u8"セットアップを行っています。\n\nしばらくお待ちください..."}), waitTexts);
    EXPECT_GE(Find("setup foreground=1"), 0) << "the installer's window was not found by its title";
    ASSERT_EQ(1u, result.messages.size());
    EXPECT_EQ(WideFromUtf8(Messages::Utf8(110)), result.messages[0].wideText);
    EXPECT_EQ(WideFromUtf8(Messages::Utf8(108)), result.messages[0].wideCaption);
    ExpectLogEnd("completed", 0);

    // An ANSI installer window titled with the code page 932 bytes is found too.
    SetupRun ansi = Run("/Silent");
    ansi.environment.push_back({"PIVORA_FAKE_SETUP_ANSI_WINDOW", "1"});
    DeleteFileA(m_LogPath.c_str());
    RunSetup(ansi);
    EXPECT_GE(Find("setup foreground=1"), 0) << "the ANSI installer window was not found";
    ExpectLogEnd("completed", 0);

    SetupRun cancelled = Run();
    cancelled.screenshotPrefix = "cp1252-interrupted";
    cancelled.onDestination = [](HWND) { return IDCANCEL; };
    result = RunSetup(cancelled);
    ASSERT_EQ(1u, result.messages.size());
    EXPECT_EQ(WideFromUtf8(Messages::Utf8(120)), result.messages[0].wideText);
    EXPECT_EQ(WideFromUtf8(Messages::Utf8(108)), result.messages[0].wideCaption);
    ExpectLogEnd("destination dialog cancelled", 0);
}

} // namespace
