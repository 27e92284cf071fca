// CStorage and CText: the growth rule, double-byte aware assignment and appending, formatting,
// the tokenizer, the backslash rules and path splitting, with real code page 932 bytes.
#include <gtest/gtest.h>
#include "base/Text.h"
#include "common/TestSupport.h"
#include "resources/resource.h"

// Blocks the heap can never give: beyond the 2 GiB of a 32-bit process, beyond the 128 TiB of
// a 64-bit one.
static const LONGLONG kHugeGrowBy = sizeof(void*) == 4 ? 0x7FFFFF00LL : 0x7FFFFF0000000000LL;

static std::string Str(const char* text) { return text ? text : "(null)"; }

struct Cut { const char* src; int n; const char* expected; };

TEST(Storage, GrowthResizeAndTransfers)
{
    // Bytes asked (length + 1) against capacity: whole blocks of 256 plus 3 bytes of alignment.
    const struct { int nLength, nCapacity; } cases[] = {{10, 259}, {255, 259}, {300, 515}};
    for (const auto& c : cases)
        EXPECT_EQ(c.nCapacity, CText(std::string(c.nLength, 'c').c_str()).m_TextStore.m_nCapacity)
            << c.nLength;
    CText text("0123456789");
    void* pFirst = text.m_TextStore.m_pBlock;
    text.Assign(std::string(258, 'a').c_str());             // asks for 259: in place
    EXPECT_EQ(pFirst, text.m_TextStore.m_pBlock);
    EXPECT_EQ(std::string(259, 'b'), Str(text.Assign(std::string(259, 'b').c_str())));
    EXPECT_EQ(515, text.m_TextStore.m_nCapacity);           // asked for 260: next block
    text.Assign("x");
    EXPECT_EQ(515, text.m_TextStore.m_nCapacity);           // blocks never shrink
    EXPECT_EQ(0u, (ULONG_PTR)text.m_TextStore.m_pData % 4);
    memset(text.m_TextStore.m_pData, 'z', (size_t)text.m_TextStore.m_nCapacity);

    CStorage store;
    store.m_nGrowBy = 256;
    EXPECT_EQ(S_OK, store.Resize(100, true, false));
    EXPECT_EQ(std::string(259, '\0'), std::string((char*)store.m_pData, 259));
    void* pBlock = store.m_pBlock;
    EXPECT_EQ(S_FALSE, store.Resize(259, false, false));    // exactly the capacity
    EXPECT_EQ(pBlock, store.m_pBlock);
    EXPECT_EQ(259, store.m_nSize);
    // Keep moves the old content along; zeroFill clears the new bytes.
    memcpy(store.m_pData, "hello", 5);
    EXPECT_EQ(S_OK, store.Resize(260, true, true));
    EXPECT_EQ(515, store.m_nCapacity);
    EXPECT_EQ(0, memcmp(store.m_pData, "hello", 5));
    EXPECT_EQ(std::string(256, '\0'), std::string((char*)store.m_pData + 259, 256));
    // In place, keep clears nothing; without keep, zeroFill clears the asked bytes.
    EXPECT_EQ(S_FALSE, store.Resize(10, true, true));
    EXPECT_EQ(S_FALSE, store.Resize(3, true, false));
    EXPECT_EQ(0, memcmp(store.m_pData, "\0\0\0lo", 5));
    // FreeBlock keeps the capacity, so a resize within it has no block to serve it.
    EXPECT_EQ(S_OK, store.FreeBlock());
    EXPECT_EQ(E_UNEXPECTED, store.Resize(10, false, false));
    EXPECT_EQ(S_OK, store.Reset());
    EXPECT_EQ(S_OK, store.Resize(10, false, true));
    // A block the heap cannot give leaves block, capacity and content as they were.
    memcpy(store.m_pData, "abcd", 4);
    store.m_nGrowBy = kHugeGrowBy;
    EXPECT_EQ(E_OUTOFMEMORY, store.Resize(300, true, true));
    EXPECT_EQ(259, store.m_nCapacity);
    EXPECT_EQ(0, memcmp(store.m_pData, "abcd", 4));
    // A 32-bit heap takes a 32-bit size: a larger block is refused, not cut to its low bits. (A
    // 64-bit size holds every block the storage can ask for, so nothing can be cut there.)
    if (sizeof(SIZE_T) == 4)
    {
        store.m_nGrowBy = 0x100000000LL;
        EXPECT_EQ(E_OUTOFMEMORY, store.Resize(300, false, true));
        EXPECT_EQ(259, store.m_nCapacity);
    }

    CStorage bytes;                                         // the defaults: granularity 1, align 4
    char szOut[8] = "keep";
    EXPECT_EQ(E_INVALIDARG, bytes.SetBytes(4, NULL));
    EXPECT_EQ(E_INVALIDARG, bytes.WriteAt(0, 4, NULL));
    EXPECT_EQ(E_FAIL, bytes.ReadInto(szOut, 4));            // nothing held
    EXPECT_EQ(S_OK, bytes.SetBytes(6, "abcdef"));
    EXPECT_EQ(9, bytes.m_nCapacity);
    EXPECT_EQ(S_OK, bytes.WriteAt(6, 4, "WXYZ"));           // a new block, keeping "abcdef"
    EXPECT_EQ(13, bytes.m_nCapacity);
    EXPECT_EQ(0, memcmp(bytes.m_pData, "abcdefWXYZ", 10));
    // An end past the largest 64-bit size is refused, not wrapped to a size the block "holds".
    EXPECT_EQ(E_INVALIDARG, bytes.WriteAt(MAXLONGLONG, 1, "!"));
    EXPECT_EQ(E_INVALIDARG, bytes.WriteAt(8, MAXLONGLONG - 7, "!"));
    EXPECT_EQ(10, bytes.m_nSize);
    EXPECT_EQ(S_OK, bytes.ReadInto(szOut, 3));
    EXPECT_STREQ("abcp", szOut);
    // Fast copy: whole 64-byte blocks, then the rest.
    std::string from;
    for (int i = 0; i < 199; i++)
        from += (char)(i * 7);
    char szTo[200] = {0};
    bytes.m_bFastCopy = true;
    EXPECT_EQ(S_OK, bytes.CopyBytes(szTo, from.data(), 199));
    EXPECT_EQ(from + '\0', std::string(szTo, 200));

    CStorage pages;
    pages.m_bPages = true;
    pages.m_nGrowBy = 4096;
    EXPECT_EQ(S_OK, pages.Resize(5000, true, false));
    EXPECT_EQ(8195, pages.m_nCapacity);
    EXPECT_EQ(0u, (ULONG_PTR)pages.m_pBlock % 4096);
    memset(pages.m_pData, 1, 8195);
}

TEST(Text, AssignAndAppend)
{
    CText empty;                                            // a null text allocates nothing
    EXPECT_EQ(0, empty.GetLength());
    EXPECT_EQ(NULL, empty.AddBackslash());
    EXPECT_EQ(NULL, empty.Tokenize("\\", 1));
    EXPECT_EQ(NULL, empty.m_TextStore.m_pBlock);
    EXPECT_EQ("", Str(empty.ScratchCopy()));

    // 0x95 0x5C is one character; a lead byte before an invalid trail byte is two single bytes.
    const Cut assigns[] = {
        {"A\x95\x5C" "B", 2, "A"}, {"A\x95\x5C" "B", 3, "A\x95\x5C"}, {"A\x81\x40", 2, "A"},
        {"A\x81\xFC", 2, "A"}, {"A\x81\x7F", 2, "A\x81"}, {"A\x81\x20", 2, "A\x81"},
        {"A\x81\xFD", 2, "A\x81"}, {"abc", 0, ""}, {NULL, 5, ""}};
    CText text;
    for (const Cut& c : assigns)
    {
        EXPECT_EQ(c.expected, Str(text.Assign(c.src, c.n))) << Str(c.src) << " " << c.n;
        EXPECT_EQ((int)strlen(c.expected), text.GetLength()) << Str(c.src) << " " << c.n;
    }
    text.Assign("zzzzzzzz");                                // a shorter source is padded with zeros
    EXPECT_EQ("ab", Str(text.Assign("ab", 6)));
    EXPECT_EQ(0, memcmp(text.GetText(), "ab\0\0\0\0\0", 7));

    // One append after the other: a length of 0 or -1 takes all, a cut character is left out.
    const Cut appends[] = {{"\\", -1, "\\"}, {NULL, 3, "\\"}, {"abcd", 2, "\\ab"}, {"cd", 0, "\\abcd"},
                           {"X\x95\x5C", 2, "\\abcdX"}, {"Y\x95\x5C", 3, "\\abcdXY\x95\x5C"}};
    CText appended;
    for (const Cut& c : appends)
        EXPECT_EQ(c.expected, Str(appended.Append(c.src, c.n))) << Str(c.src) << " " << c.n;
    // A lone lead byte at the end is overwritten by the first appended byte; a trail byte that
    // looks like a lead byte, or a lead byte before an invalid trail byte, is kept.
    const char* ends[][3] = {{"ab\x95", "cd", "abcd"}, {"\x95\x95", "x", "\x95\x95x"},
                             {"\x81\x20", "x", "\x81\x20x"}};
    for (const auto& a : ends)
        EXPECT_EQ(a[2], Str(CText(a[0]).Append(a[1]))) << a[0];
    std::string half(200, 'h');                             // itself, across a block change
    text.Assign(half.c_str());
    EXPECT_EQ(half + half, Str(text.Append(text.GetText())));

    // Copies hold the text only, never the tokenizer's state.
    text.Assign("C:\\x\\y");
    ASSERT_NE(nullptr, text.Tokenize("\\", 1));
    CText copy(text), other;
    other = text;
    other.Assign(other);
    for (CText* c : {&copy, &other})
    {
        EXPECT_EQ("C:\\x\\y", Str(c->GetText()));
        EXPECT_NE(text.GetText(), c->GetText());
        EXPECT_EQ(NULL, c->m_pToken);
    }
    EXPECT_EQ("x\\y", Str(other.Assign(other.GetText() + 3, -1)));     // a source inside itself
}

TEST(Text, FormatLoadScratchAndFailures)
{
    CText text;
    EXPECT_EQ("42-abc-ff", Str(text.Format("%d-%s-%x", 42, "abc", 255)));
    EXPECT_EQ(1283, text.m_TextStore.m_nCapacity);          // 9 + 1,025 asked
    EXPECT_EQ(NULL, text.Format(NULL));
    EXPECT_EQ("[42-abc-ff]", Str(text.Format("[%s]", text.GetText())));
    ASSERT_NE(nullptr, text.Format("%s", std::string(2000, 'q').c_str()));
    EXPECT_EQ(1023, text.GetLength());

    CText caption;
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"),
              Str(caption.LoadResourceText(GetModuleHandleA(NULL), IDS_CAPTION)));
    EXPECT_EQ(1027, caption.m_TextStore.m_nCapacity);
    EXPECT_EQ("", Str(caption.LoadResourceText(GetModuleHandleA(NULL), 4321)));

    CText path("C:\\dir");
    char* pScratch = path.ScratchCopy();
    EXPECT_EQ("C:\\dir", Str(pScratch));
    pScratch[0] = 'D';
    EXPECT_EQ("C:\\dir", Str(path.GetText()));

    // A block the heap cannot give leaves the text as it was.
    CText kept("abc");
    void* pText = kept.m_TextStore.m_pBlock;
    kept.m_TextStore.m_nGrowBy = kHugeGrowBy;
    std::string big(300, 'x');
    EXPECT_EQ(NULL, kept.Assign(big.c_str()));
    EXPECT_EQ(kept.GetText(), kept.Append(big.c_str()));
    EXPECT_EQ(NULL, kept.Format("%s", "x"));                // needs 1,028 bytes
    EXPECT_EQ(NULL, kept.LoadResourceText(GetModuleHandleA(NULL), IDS_CAPTION));
    EXPECT_EQ("abc", Str(kept.GetText()));
    EXPECT_EQ(pText, kept.m_TextStore.m_pBlock);
    kept.m_ScratchStore.m_nGrowBy = kHugeGrowBy;
    EXPECT_EQ(NULL, kept.ScratchCopy());
    EXPECT_EQ(NULL, kept.Tokenize("\\", 1));
    EXPECT_EQ(NULL, kept.m_pToken);
}

TEST(Text, BackslashesAndPaths)
{
    // Input, after AddBackslash, after RemoveBackslash on that, for texts and plain buffers alike.
    // "\x95\x95" is a character, so the 0x5C after it is a real backslash.
    const struct { const char* in; const char* added; const char* removed; } cases[] = {
        {"C:\\Program Files", "C:\\Program Files\\", "C:\\Program Files"},
        {"C:\\", "C:\\", "C:"}, {"\\", "\\", ""}, {"", "(null)", ""},
        {"C:\\\x95\x5C", "C:\\\x95\x5C\\", "C:\\\x95\x5C"},
        {"\x95\x95\x5C", "\x95\x95\x5C", "\x95\x95"}};
    for (const auto& c : cases)
    {
        CText text(c.in);
        char szBuffer[32];
        strcpy(szBuffer, c.in);
        EXPECT_EQ(c.added, Str(text.AddBackslash())) << c.in;
        EXPECT_EQ(c.added, Str(AddBackslashTo(szBuffer, sizeof(szBuffer)))) << c.in;
        for (int i = 0; i < 2; i++)
        {
            EXPECT_EQ(c.removed, Str(text.RemoveBackslash())) << c.in;
            EXPECT_EQ(c.removed, Str(RemoveBackslashFrom(szBuffer))) << c.in;
        }
    }
    char szExact[6] = "C:\\a", szFull[5] = "C:\\a";
    EXPECT_STREQ("C:\\a\\", AddBackslashTo(szExact, sizeof(szExact)));
    EXPECT_EQ(NULL, AddBackslashTo(szFull, sizeof(szFull)));
    EXPECT_STREQ("C:\\a", szFull);

    // A 0x5C trail byte is no separator.
    const char* dirs[][2] = {{"C:\\a\\b\\setup.exe", "C:\\a\\b"}, {"C:\\setup.exe", "C:\\"},
                             {"setup.exe", ""}, {"C:\\a\\b\\", "C:\\a\\b"}, {"\\x", "\\"},
                             {"C:\\\x95\x5C\\setup.exe", "C:\\\x95\x5C"},
                             {"C:\\\x95\x5C" "file", "C:\\"}};
    for (const auto& d : dirs)
        EXPECT_EQ(d[1], Str(DirectoryOf(CText(d[0])).GetText())) << d[0];

    const char* splits[][4] = {{"C:\\a\\b.txt", "C:\\a\\", "b", ".txt"},
                               {"C:\\a.d\\b.tar.gz", "C:\\a.d\\", "b.tar", ".gz"},
                               {"C:\\a.d\\noext", "C:\\a.d\\", "noext", ""},
                               {"D:file", "D:", "file", ""},
                               {"\x95\x5C" "a.b", "", "\x95\x5C" "a", ".b"}};
    for (const auto& s : splits)
    {
        CText dir("keep"), name("keep"), ext("keep");
        EXPECT_TRUE(SplitPath(CText(s[0]), &dir, &name, &ext)) << s[0];
        EXPECT_EQ(s[1] + std::string("|") + s[2] + "|" + s[3],
                  Str(dir.GetText()) + "|" + Str(name.GetText()) + "|" + Str(ext.GetText()));
    }
    CText dir("keep"), name("keep");
    EXPECT_TRUE(SplitPath(CText("C:\\x.y"), NULL, &name, NULL));
    EXPECT_FALSE(SplitPath(CText(""), &dir, &name, NULL));
    EXPECT_FALSE(SplitPath(CText(), &dir, &name, NULL));
    EXPECT_EQ("keep|x", Str(dir.GetText()) + "|" + Str(name.GetText()));
}

TEST(Text, Tokenize)
{
    CText text("C:\\a\\\\b");
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));                // no cursor yet
    EXPECT_EQ(NULL, text.Tokenize(NULL, 0));                // restart
    for (const char* field : {"C:", "a", "", "b"})
        EXPECT_EQ(field, Str(text.Tokenize("\\", 0)));
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));

    text.Assign("x\\y\\z\\");
    EXPECT_EQ("y", Str(text.Tokenize("\\", 2)));
    EXPECT_EQ("z", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));                // a trailing separator ends it
    EXPECT_EQ("", Str(text.Tokenize("\\", 5)));             // beyond the last field
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));
    EXPECT_EQ("x", Str(text.Tokenize("\\/", 1)));

    // A 0x5C trail byte splits neither the field copied nor the fields passed over; 0x20 after
    // a lead byte is no trail byte, so it is a delimiter.
    text.Assign("a\x95\x5C" "b\\c\x95\x5C\\d");
    EXPECT_EQ("a\x95\x5C" "b", Str(text.Tokenize("\\", 1)));
    EXPECT_EQ("c\x95\x5C", Str(text.Tokenize("\\", 2)));
    EXPECT_EQ("d", Str(text.Tokenize("\\", 3)));
    text.Assign("\x81 x");
    EXPECT_EQ("\x81", Str(text.Tokenize(" ", 1)));
    EXPECT_EQ("x", Str(text.Tokenize(" ", 0)));

    // 1,023 bytes and then a double-byte character: 1,025 bytes land in the token buffer.
    std::string field = std::string(1023, 'a') + "\x95\x5C";
    text.Assign((field + "bbb\\z").c_str());
    EXPECT_EQ(field, Str(text.Tokenize("\\", 1)));
    EXPECT_EQ("bbb", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ("z", Str(text.Tokenize("\\", 0)));

    // Exactly 1,024 bytes are followed by the next field, not by an empty one.
    std::string exact(1024, 'e');
    text.Assign((exact + "\\next").c_str());
    EXPECT_EQ(exact, Str(text.Tokenize("\\", 1)));
    EXPECT_EQ("next", Str(text.Tokenize("\\", 0)));

    // A scratch copy that moves the scratch block takes the token buffer along.
    std::string longText = std::string(1500, 'p') + "\\q";
    text.Assign(longText.c_str());
    ASSERT_NE(nullptr, text.Tokenize("\\", 1));
    EXPECT_EQ(longText, Str(text.ScratchCopy()));
    EXPECT_EQ("q", Str(text.Tokenize("\\", 2)));
    EXPECT_EQ(reinterpret_cast<char*>(text.m_ScratchStore.m_pData), text.m_pToken);

    // Growing the text moves its block; continuing goes on over the kept text.
    text.Assign("a\\b");
    EXPECT_EQ("a", Str(text.Tokenize("\\", 1)));
    text.Append(std::string(600, 'c').c_str());
    EXPECT_EQ("b" + std::string(600, 'c'), Str(text.Tokenize("\\", 0)));
}
