// CStorage and CText: blocks that hold what they claim, double-byte aware assignment and
// appending, formatting, the tokenizer, the backslash rules and path splitting, with real code
// page 932 bytes.
#include <gtest/gtest.h>
#include "base/Text.h"
#include "common/TestSupport.h"
#include "resources/resource.h"

// Growth steps the heap can never serve: past the 2 GiB of a 32-bit process, past the 128 TiB
// of a 64-bit one; and a step whose block size needs more than a SIZE_T (32-bit) or more than a
// LONGLONG (64-bit), which must be refused, never cut to its low bits.
static const LONGLONG kHugeGrowBy = sizeof(void*) == 4 ? 0x7FFFFF00LL : 0x7FFFFF0000000000LL;
static const LONGLONG kWrapGrowBy = sizeof(void*) == 4 ? 0x100000000LL : MAXLONGLONG;

static std::string Str(const char* text) { return text ? text : "(null)"; }

// At least `need` bytes of capacity, every one past m_pData inside the block the heap (or
// VirtualAlloc) gave, and m_pData aligned.
static void ExpectBlockHolds(const CStorage& store, const char* what, LONGLONG need = 0)
{
    ASSERT_NE(nullptr, store.m_pBlock) << what;
    MEMORY_BASIC_INFORMATION info = {};
    SIZE_T nBlock = store.m_bPages ? (VirtualQuery(store.m_pBlock, &info, sizeof(info)), info.RegionSize)
                                   : HeapSize(GetProcessHeap(), 0, store.m_pBlock);
    EXPECT_LE((LONGLONG)(store.m_pData - (BYTE*)store.m_pBlock) + store.m_nCapacity, (LONGLONG)nBlock) << what;
    EXPECT_LE(need, store.m_nCapacity) << what;
    EXPECT_EQ(0u, (ULONG_PTR)store.m_pData % 4) << what;
}

TEST(Storage, BlocksZeroFillAndByteOperations)
{
    CStorage store, bytes, pages;
    ASSERT_EQ(S_OK, store.Resize(100, true, false));
    memcpy(store.m_pData, "hello", 5);
    ASSERT_EQ(S_OK, store.Resize(store.m_nCapacity + 1, true, true));   // keep moves, clears the rest
    ExpectBlockHolds(store, "kept block");
    EXPECT_EQ(std::string("hello") + std::string((size_t)store.m_nCapacity - 5, '\0'),
              std::string((char*)store.m_pData, (size_t)store.m_nCapacity));
    EXPECT_EQ(S_FALSE, store.Resize(3, true, false));       // in place, without keep the asked bytes
    EXPECT_EQ(0, memcmp(store.m_pData, "\0\0\0lo", 5));
    EXPECT_EQ(S_OK, store.FreeBlock());                     // the capacity stays, the block not
    EXPECT_EQ(E_UNEXPECTED, store.Resize(10, false, false));

    EXPECT_EQ(S_OK, bytes.SetBytes(6, "abcdef"));
    EXPECT_EQ(S_OK, bytes.WriteAt(6, 4, "WXYZ"));           // a new block, keeping "abcdef"
    ExpectBlockHolds(bytes, "written block", 10);
    EXPECT_EQ(0, memcmp(bytes.m_pData, "abcdefWXYZ", 10));
    // An end past the largest 64-bit size is refused, not wrapped to a size the block "holds".
    const LONGLONG refused[][2] = {{0, -1}, {MAXLONGLONG, 1}, {8, MAXLONGLONG - 7}};
    for (const auto& r : refused)
        EXPECT_EQ(E_INVALIDARG, bytes.WriteAt(r[0], r[1], "!")) << r[0] << "+" << r[1];
    char szOut[8] = "keep";
    EXPECT_EQ(S_OK, bytes.ReadInto(szOut, 3));
    EXPECT_STREQ("abcp", szOut);
    std::string from;                                       // fast copy: 64-byte blocks, the rest
    for (int i = 0; i < 199; i++) from += (char)(i * 7 + 1);
    char szTo[200] = {0};
    bytes.m_bFastCopy = true;
    EXPECT_EQ(S_OK, bytes.CopyBytes(szTo, from.data(), 199));
    EXPECT_EQ(from + '\0', std::string(szTo, 200));

    pages.m_bPages = true;
    ASSERT_EQ(S_OK, pages.Resize(5000, true, false));
    ExpectBlockHolds(pages, "pages", 5000);
}

TEST(Text, AssignAndAppend)
{
    EXPECT_TRUE(!CText().Tokenize("\\", 1) && Str(CText().ScratchCopy()) == "") << "a text never assigned";

    // 0x95 0x5C is one character; a lead byte before an invalid trail byte is two single bytes.
    // Appending: a length of 0 or -1 takes all, a cut character is left out, a lone lead byte at
    // the end is overwritten by the first appended byte, a trail byte like a lead byte is kept.
    const struct { bool append; const char* src; int n; const char* expected; } steps[] = {
        {false, "A\x95\x5C" "B", 2, "A"}, {false, "A\x95\x5C" "B", 3, "A\x95\x5C"}, {false, "A\x81\x7F", 2, "A\x81"},
        {false, "abc", 0, ""}, {false, NULL, 5, ""}, {true, "\\", -1, "\\"}, {true, NULL, 3, "\\"}, {true, "abcd", 2, "\\ab"},
        {true, "cd", 0, "\\abcd"}, {true, "X\x95\x5C", 2, "\\abcdX"}, {true, "Y\x95\x5C", 3, "\\abcdXY\x95\x5C"},
        {false, "ab\x95", -1, "ab\x95"}, {true, "cd", -1, "abcd"}, {false, "\x95\x95", -1, "\x95\x95"}, {true, "x", -1, "\x95\x95x"}};
    CText text;
    for (const auto& s : steps)
        EXPECT_EQ(s.expected, Str(s.append ? text.Append(s.src, s.n) : text.Assign(s.src, s.n))) << Str(s.src) << " " << s.n;
    EXPECT_EQ(0, memcmp(CText("zzzzzzzz").Assign("ab", 6), "ab\0\0\0\0\0", 7)) << "not padded with zeros";
    std::string half(200, 'h');                             // itself, across a block change
    text.Assign(half.c_str());
    EXPECT_EQ(half + half, Str(text.Append(text.GetText())));
    ExpectBlockHolds(text.m_TextStore, "grown text", 401);

    // Copies hold the text only, never the tokenizer's state.
    ASSERT_NE(nullptr, text.Tokenize("\\", 1));
    CText copy(text), other;
    other = text;
    other.Assign(other);
    for (CText* c : {&copy, &other})
        EXPECT_TRUE(Str(c->GetText()) == half + half && c->GetText() != text.GetText() && !c->m_pToken);
    EXPECT_EQ(half + half.substr(3), Str(other.Assign(other.GetText() + 3, -1)));     // a source inside itself
}

TEST(Text, FormatLoadScratchAndFailures)
{
    CText text, caption;
    EXPECT_EQ("42-abc-ff", Str(text.Format("%d-%s-%x", 42, "abc", 255)));
    EXPECT_EQ("[42-abc-ff]", Str(text.Format("[%s]", text.GetText())));
    EXPECT_EQ(std::string(1023, 'q'), Str(text.Format("%s", std::string(2000, 'q').c_str())));
    ExpectBlockHolds(text.m_TextStore, "format", 1024);
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"), Str(caption.LoadResourceText(GetModuleHandleA(NULL), IDS_CAPTION)));
    ExpectBlockHolds(caption.m_TextStore, "resource text", 1024);
    EXPECT_EQ("", Str(caption.LoadResourceText(GetModuleHandleA(NULL), 4321)));
    CText path("C:\\dir");
    path.ScratchCopy()[0] = 'D';
    EXPECT_EQ("C:\\dir", Str(path.GetText()));

    // A block the heap cannot give, or whose size does not fit, leaves the text as it was.
    for (LONGLONG growBy : {kHugeGrowBy, kWrapGrowBy})
    {
        CText kept("abc");
        void* pText = kept.m_TextStore.m_pBlock;
        kept.m_TextStore.m_nGrowBy = kept.m_ScratchStore.m_nGrowBy = growBy;
        std::string big(300, 'x');
        EXPECT_TRUE(!kept.Assign(big.c_str()) && kept.Append(big.c_str()) == kept.GetText() && pText == kept.m_TextStore.m_pBlock &&
                    !kept.Format("%s", "x") && !kept.LoadResourceText(GetModuleHandleA(NULL), IDS_CAPTION)) << std::hex << growBy;
        EXPECT_EQ("abc", Str(kept.GetText())) << std::hex << growBy;
        EXPECT_TRUE(!kept.ScratchCopy() && !kept.Tokenize("\\", 1) && !kept.m_pToken) << std::hex << growBy;
    }
}

TEST(Text, BackslashesAndPaths)
{
    // Input, after AddBackslash, after RemoveBackslash on that, for texts and plain buffers alike.
    // "\x95\x95" is a character, so the 0x5C after it is a real backslash.
    const struct { const char* in; const char* added; const char* removed; } cases[] = {
        {"C:\\Program Files", "C:\\Program Files\\", "C:\\Program Files"}, {"C:\\", "C:\\", "C:"}, {"\\", "\\", ""},
        {"", "(null)", ""}, {"C:\\\x95\x5C", "C:\\\x95\x5C\\", "C:\\\x95\x5C"}, {"\x95\x95\x5C", "\x95\x95\x5C", "\x95\x95"}};
    for (const auto& c : cases)
    {
        char szBuffer[32];
        CText text(strcpy(szBuffer, c.in));
        EXPECT_EQ(std::string(c.added) + "|" + c.added,
                  Str(text.AddBackslash()) + "|" + Str(AddBackslashTo(szBuffer, sizeof(szBuffer)))) << c.in;
        for (int i = 0; i < 2; i++)
            EXPECT_EQ(std::string(c.removed) + "|" + c.removed,
                      Str(text.RemoveBackslash()) + "|" + Str(RemoveBackslashFrom(szBuffer))) << c.in;
    }
    char szExact[6] = "C:\\a", szFull[5] = "C:\\a";
    EXPECT_STREQ("C:\\a\\", AddBackslashTo(szExact, sizeof(szExact)));
    EXPECT_EQ(NULL, AddBackslashTo(szFull, sizeof(szFull)));
    EXPECT_STREQ("C:\\a", szFull);

    // Path, DirectoryOf, then SplitPath's directory, name and extension. A 0x5C trail byte is no
    // separator.
    const char* paths[][5] = {{"C:\\a\\b\\setup.exe", "C:\\a\\b", "C:\\a\\b\\", "setup", ".exe"},
        {"C:\\setup.exe", "C:\\", "C:\\", "setup", ".exe"}, {"setup.exe", "", "", "setup", ".exe"},
        {"C:\\a.d\\b.tar.gz", "C:\\a.d", "C:\\a.d\\", "b.tar", ".gz"}, {"D:file", "D:", "D:", "file", ""},
        {"C:\\\x95\x5C\\s.exe", "C:\\\x95\x5C", "C:\\\x95\x5C\\", "s", ".exe"},
        {"C:\\\x95\x5C" "f", "C:\\", "C:\\", "\x95\x5C" "f", ""}, {"\x95\x5C" "a.b", "", "", "\x95\x5C" "a", ".b"}};
    for (const auto& p : paths)
    {
        CText dir("keep"), name("keep"), ext("keep");
        EXPECT_TRUE(SplitPath(CText(p[0]), &dir, &name, &ext)) << p[0];
        EXPECT_EQ(p[1] + std::string("|") + p[2] + "|" + p[3] + "|" + p[4], Str(DirectoryOf(CText(p[0])).GetText()) + "|" +
                  Str(dir.GetText()) + "|" + Str(name.GetText()) + "|" + Str(ext.GetText()));
    }
    CText dir("keep"), name("keep");
    EXPECT_TRUE(SplitPath(CText("C:\\x.y"), NULL, &name, NULL) && !SplitPath(CText(""), &dir, &name, NULL));
    EXPECT_EQ("keep|x", Str(dir.GetText()) + "|" + Str(name.GetText()));
}

TEST(Text, Tokenize)
{
    // Each step: the text (or null to go on with the last), delimiters, index, the field.
    // A 0x5C trail byte splits neither the field copied nor the fields passed over; 0x20 after a
    // lead byte is no trail byte, so it is a delimiter.
    const std::string dbcsCut = std::string(1023, 'a') + "\x95\x5C", exact(1024, 'e');
    const std::string dbcsText = dbcsCut + "bbb\\z", exactText = exact + "\\next";
    const struct { const char* text; const char* delimiters; int index; const char* field; } steps[] = {
        {"C:\\a\\\\b", "\\", 0, NULL}, {NULL, NULL, 0, NULL}, {NULL, "\\", 0, "C:"}, {NULL, "\\", 0, "a"}, {NULL, "\\", 0, ""},
        {NULL, "\\", 0, "b"}, {NULL, "\\", 0, NULL}, {"x\\y\\z\\", "\\", 2, "y"}, {NULL, "\\", 0, "z"}, {NULL, "\\", 0, NULL},
        {NULL, "\\", 5, ""}, {NULL, "\\", 0, NULL}, {NULL, "\\/", 1, "x"}, {"\x81 x", " ", 1, "\x81"}, {NULL, " ", 0, "x"},
        {"a\x95\x5C" "b\\c\x95\x5C\\d", "\\", 1, "a\x95\x5C" "b"}, {NULL, "\\", 2, "c\x95\x5C"}, {NULL, "\\", 3, "d"},
        // 1,023 bytes and a double-byte character: 1,025 bytes land in the token buffer.
        {dbcsText.c_str(), "\\", 1, dbcsCut.c_str()}, {NULL, "\\", 0, "bbb"}, {NULL, "\\", 0, "z"},
        // Exactly 1,024 bytes are followed by the next field, not by an empty one.
        {exactText.c_str(), "\\", 1, exact.c_str()}, {NULL, "\\", 0, "next"}};
    CText text;
    for (const auto& s : steps)
        EXPECT_EQ(Str(s.field), Str((s.text ? text.Assign(s.text) : 0, text.Tokenize(s.delimiters, s.index))))
            << Str(text.GetText()).substr(0, 12) << " " << Str(s.delimiters) << " " << s.index;
    // A scratch copy that moves the scratch block takes the token buffer along.
    std::string longText = std::string(1500, 'p') + "\\q";
    text.Assign(longText.c_str());
    ASSERT_NE(nullptr, text.Tokenize("\\", 1));
    EXPECT_EQ(longText, Str(text.ScratchCopy()));
    EXPECT_EQ("q", Str(text.Tokenize("\\", 2)));
    // Growing the text moves its block; continuing goes on over the kept text.
    text.Assign("a\\b");
    EXPECT_EQ("a", Str(text.Tokenize("\\", 1)));
    text.Append(std::string(600, 'c').c_str());
    EXPECT_EQ("b" + std::string(600, 'c'), Str(text.Tokenize("\\", 0)));
}
