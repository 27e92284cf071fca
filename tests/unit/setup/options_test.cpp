// The switches: splitting the process command line and recognising the four names.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "setup/Options.h"

namespace {

std::vector<std::string> Split(const char* line)
{
    COwnerNodeList<CText> tokens;
    std::vector<std::string> out;
    EXPECT_TRUE(SplitCommandLine(&tokens, line));
    for (CNode* node = tokens.GetHeadNode(); node; node = node->pNext)
    {
        const char* text = static_cast<CText*>(node->pData)->GetText();
        out.push_back(text ? text : "<null>");
    }
    return out;
}

std::string Flags(const char* processLine)
{
    CSetupOptions options("x");
    options.ParseLine(processLine);
    std::string flags;
    flags += options.m_RunningAsSetupMgr ? "M" : "-";
    flags += options.m_Silent ? "S" : "-";
    flags += options.m_NoWaitDlg ? "N" : "-";
    flags += options.m_LaunchDX9 ? "D" : "-";
    return flags;
}

TEST(SplitCommandLine, TokensQuotesAndBlanks)
{
    typedef std::vector<std::string> V;
    EXPECT_EQ((V{"C:\\Program Files\\PivoraSetup.exe", "<null>", "/NoWaitDlg"}),
              Split("\"C:\\Program Files\\PivoraSetup.exe\" /NoWaitDlg"));
    EXPECT_EQ((V{"a", "<null>", "b", "<null>"}), Split("a  b "))
        << "each extra blank and a trailing blank give one empty element";
    EXPECT_EQ((V{"a\"b", "c"}), Split("a\"b c")) << "a quote inside a token is an ordinary byte";
    EXPECT_EQ((V{"setup", "rest of ", "line"}), Split("setup \"rest of \"line"))
        << "the token after a closing quote begins right behind it";
    EXPECT_EQ((V{"x", "open quote to the end"}), Split("x \"open quote to the end"));
    EXPECT_EQ((V{"/Silent\t/NoWaitDlg"}), Split("/Silent\t/NoWaitDlg")) << "tabs do not separate";
    EXPECT_EQ((V{"<null>"}), Split(""));

    COwnerNodeList<CText> tokens;
    EXPECT_FALSE(SplitCommandLine(NULL, "a"));
    EXPECT_FALSE(SplitCommandLine(&tokens, NULL));
    EXPECT_EQ(0, tokens.GetCount());
}

TEST(CSetupOptions, SwitchNames)
{
    EXPECT_EQ("----", Flags("setup.exe"));
    EXPECT_EQ("-S--", Flags("setup.exe /silent"));
    EXPECT_EQ("-S--", Flags("setup.exe -SILENT"));
    EXPECT_EQ("-S--", Flags("setup.exe //Silent"));
    EXPECT_EQ("-S--", Flags("setup.exe /-Silent"));
    EXPECT_EQ("----", Flags("setup.exe /Silent:1 /Silentx Silent / -"));
    EXPECT_EQ("-SN-", Flags("setup.exe /Silent /NoWaitDlg /Silent"));
    EXPECT_EQ("M--D", Flags("\"C:\\My Setup\\PivoraSetup.exe\" /runningassetupmgr -launchdx9"));
    EXPECT_EQ("----", Flags("setup.exe /Silent\t/NoWaitDlg")) << "a tab joins two switches";
    EXPECT_EQ("MSND", Flags("s /RunningAsSetupMgr /Silent /NoWaitDlg /LaunchDX9"));
}

TEST(CSetupOptions, NamesCompareAsCodePage932Text)
{
    EXPECT_TRUE(SameSwitchName("sIlEnT", "Silent"));
    EXPECT_FALSE(SameSwitchName("Silen", "Silent"));
    EXPECT_FALSE(SameSwitchName("Silent", "Silen"));
    // A double-byte character compares whole; its trail byte is never folded like a letter.
    EXPECT_TRUE(SameSwitchName("\x83\x41x", "\x83\x41X"));
    EXPECT_FALSE(SameSwitchName("\x83\x41", "\x83\x61")) << "0x41 and 0x61 are trail bytes here";
}

TEST(CSetupOptions, NoArgumentsParsesNothing)
{
    CSetupOptions empty("");
    EXPECT_FALSE(empty.Parse());
    CSetupOptions null(NULL);
    EXPECT_FALSE(null.Parse());
    EXPECT_FALSE(null.m_Silent || null.m_NoWaitDlg || null.m_LaunchDX9 || null.m_RunningAsSetupMgr);

    // With arguments the process command line is what counts; this test program has none of
    // the switches on its own command line.
    CSetupOptions some("/Silent");
    EXPECT_TRUE(some.Parse());
    EXPECT_FALSE(some.m_Silent);
}

} // namespace
