// The switches: splitting the process command line and recognising the four names.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "setup/Options.h"

namespace {

TEST(SplitCommandLine, TokensQuotesAndBlanks)
{
    typedef std::vector<std::string> V;
    const struct { const char* line; V tokens; } cases[] = {
        {"\"C:\\Program Files\\PivoraSetup.exe\" /NoWaitDlg",
         {"C:\\Program Files\\PivoraSetup.exe", "<null>", "/NoWaitDlg"}},
        {"a  b ", {"a", "<null>", "b", "<null>"}},   // each extra blank gives an empty element
        {"a\"b c", {"a\"b", "c"}},                   // a quote inside a token is an ordinary byte
        {"setup \"rest of \"line", {"setup", "rest of ", "line"}},   // begins right behind a quote
        {"x \"open quote to the end", {"x", "open quote to the end"}},
        {"/Silent\t/NoWaitDlg", {"/Silent\t/NoWaitDlg"}},            // tabs do not separate
        {"", {"<null>"}}};
    for (const auto& c : cases)
    {
        COwnerNodeList<CText> tokens;
        EXPECT_TRUE(SplitCommandLine(&tokens, c.line));
        V out;
        for (CNode* node = tokens.GetHeadNode(); node; node = node->pNext)
        {
            const char* text = static_cast<CText*>(node->pData)->GetText();
            out.push_back(text ? text : "<null>");
        }
        EXPECT_EQ(c.tokens, out) << c.line;
    }
    COwnerNodeList<CText> tokens;
    EXPECT_FALSE(SplitCommandLine(NULL, "a"));
    EXPECT_FALSE(SplitCommandLine(&tokens, NULL));
}

TEST(CSetupOptions, SwitchNames)
{
    // Any run of "/" and "-" leads a switch; case does not count; a tab joins two switches.
    const struct { const char* line; const char* flags; } cases[] = {
        {"s /silent -NOWAITDLG //RunningAsSetupMgr /-launchdx9", "MSND"},
        {"s /Silent:1 /Silentx /Silen Silent / - /Silent\t/NoWaitDlg", "----"},
        {"s /Silent /NoWaitDlg /Silent", "-SN-"}};
    for (const auto& c : cases)
    {
        CSetupOptions options("x");
        options.ParseLine(c.line);
        std::string flags = std::string(options.m_RunningAsSetupMgr ? "M" : "-") +
                            (options.m_Silent ? "S" : "-") + (options.m_NoWaitDlg ? "N" : "-") +
                            (options.m_LaunchDX9 ? "D" : "-");
        EXPECT_EQ(c.flags, flags) << c.line;
    }
    // A double-byte character compares whole; its trail byte is never folded like a letter.
    EXPECT_TRUE(SameSwitchName("\x83\x41x", "\x83\x41X"));
    EXPECT_FALSE(SameSwitchName("\x83\x41", "\x83\x61")) << "0x41 and 0x61 are trail bytes here";

    // Without arguments nothing is parsed; with them, the process command line is what counts,
    // and this test program has none of the switches on its own.
    CSetupOptions none(""), null(NULL), some("/Silent");
    EXPECT_FALSE(none.Parse() || null.Parse());
    EXPECT_TRUE(some.Parse());
    EXPECT_FALSE(some.m_Silent);
}

// "/Log=" and a path: a token longer than "Log=" and the longest path (259 characters) names no
// file that can be opened and is passed by, counted in characters, not bytes.
TEST(CSetupOptions, LogSwitchLength)
{
    for (size_t length : {263, 264, 400, 527})
    {
        const std::wstring value = L"C:\\" + std::wstring(length - 7, L'a');
        CSetupOptions options("x");
        options.ParseLogSwitch((L"setup.exe \"/Log=" + value + L"\" /Silent").c_str());
        EXPECT_EQ(length == 263, options.m_Log) << length;
        EXPECT_EQ(length == 263 ? value : L"", std::wstring(options.m_LogFile)) << length;
    }
}

} // namespace
