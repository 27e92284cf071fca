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

// Every byte of the capacity past m_pData lies inside the block the heap (or VirtualAlloc) gave.
static void ExpectBlockHolds(const CStorage& store, const char* what)
{
    ASSERT_NE(nullptr, store.m_pBlock) << what;
    SIZE_T nBlock = 0;
    if (store.m_bPages)
    {
        MEMORY_BASIC_INFORMATION info;
        ASSERT_NE(0u, VirtualQuery(store.m_pBlock, &info, sizeof(info))) << what;
        nBlock = info.RegionSize;
    }
    else
        nBlock = HeapSize(GetProcessHeap(), 0, store.m_pBlock);
    EXPECT_LE((LONGLONG)(store.m_pData - (BYTE*)store.m_pBlock) + store.m_nCapacity, (LONGLONG)nBlock)
        << what;
    EXPECT_EQ(0u, (ULONG_PTR)store.m_pData % 4) << what;
}

TEST(Storage, BlocksZeroFillAndByteOperations)
{
    CText text("0123456789");
    ExpectBlockHolds(text.m_TextStore, "first block");
    void* pFirst = text.m_TextStore.m_pBlock;
    std::string full((size_t)text.m_TextStore.m_nCapacity - 1, 'a');
    text.Assign(full.c_str());                              // exactly the capacity: in place
    EXPECT_EQ(pFirst, text.m_TextStore.m_pBlock);
    EXPECT_EQ(full + "b", Str(text.Assign((full + "b").c_str())));
    ExpectBlockHolds(text.m_TextStore, "grown block");
    void* pGrown = text.m_TextStore.m_pBlock;
    text.Assign("x");                                       // a shorter text keeps its block
    EXPECT_EQ(pGrown, text.m_TextStore.m_pBlock);

    CStorage store;
    store.m_nGrowBy = 256;
    ASSERT_EQ(S_OK, store.Resize(100, true, false));
    EXPECT_EQ(std::string((size_t)store.m_nCapacity, '\0'), std::string((char*)store.m_pData, (size_t)store.m_nCapacity));
    const LONGLONG nFirst = store.m_nCapacity;
    memcpy(store.m_pData, "hello", 5);
    ASSERT_EQ(S_OK, store.Resize(nFirst + 1, true, true));  // keep moves the content, clears the rest
    ExpectBlockHolds(store, "kept block");
    EXPECT_EQ(std::string("hello") + std::string((size_t)store.m_nCapacity - 5, '\0'),
              std::string((char*)store.m_pData, (size_t)store.m_nCapacity));
    EXPECT_EQ(S_FALSE, store.Resize(10, true, true));       // in place, keep clears nothing
    EXPECT_EQ(S_FALSE, store.Resize(3, true, false));       // without keep the asked bytes
    EXPECT_EQ(0, memcmp(store.m_pData, "\0\0\0lo", 5));
    EXPECT_EQ(S_OK, store.FreeBlock());                     // the capacity stays, the block not
    EXPECT_EQ(E_UNEXPECTED, store.Resize(10, false, false));
    store.Reset();
    ASSERT_EQ(S_OK, store.Resize(10, false, true));
    memcpy(store.m_pData, "abcd", 4);
    const LONGLONG nKept = store.m_nCapacity;
    for (LONGLONG growBy : {kHugeGrowBy, kWrapGrowBy})
    {
        store.m_nGrowBy = growBy;
        EXPECT_EQ(E_OUTOFMEMORY, store.Resize(300, true, true)) << std::hex << growBy;
        EXPECT_EQ(nKept, store.m_nCapacity) << std::hex << growBy;
        EXPECT_EQ(0, memcmp(store.m_pData, "abcd", 4)) << std::hex << growBy;
    }

    CStorage bytes;
    char szOut[8] = "keep";
    EXPECT_EQ(E_INVALIDARG, bytes.SetBytes(4, NULL));
    EXPECT_EQ(E_FAIL, bytes.ReadInto(szOut, 4));            // nothing held
    EXPECT_EQ(S_OK, bytes.SetBytes(6, "abcdef"));
    EXPECT_EQ(S_OK, bytes.WriteAt(6, 4, "WXYZ"));           // a new block, keeping "abcdef"
    ExpectBlockHolds(bytes, "written block");
    EXPECT_EQ(0, memcmp(bytes.m_pData, "abcdefWXYZ", 10));
    // An end past the largest 64-bit size is refused, not wrapped to a size the block "holds".
    const LONGLONG refused[][2] = {{0, -1}, {MAXLONGLONG, 1}, {8, MAXLONGLONG - 7}};
    for (const auto& r : refused)
        EXPECT_EQ(E_INVALIDARG, bytes.WriteAt(r[0], r[1], "!")) << r[0] << "+" << r[1];
    EXPECT_EQ(10, bytes.m_nSize);
    EXPECT_EQ(S_OK, bytes.ReadInto(szOut, 3));
    EXPECT_STREQ("abcp", szOut);
    std::string from;                                       // fast copy: 64-byte blocks, the rest
    for (int i = 0; i < 199; i++)
        from += (char)(i * 7);
    char szTo[200] = {0};
    bytes.m_bFastCopy = true;
    EXPECT_EQ(S_OK, bytes.CopyBytes(szTo, from.data(), 199));
    EXPECT_EQ(from + '\0', std::string(szTo, 200));

    CStorage pages;
    pages.m_bPages = true;
    pages.m_nGrowBy = 4096;
    ASSERT_EQ(S_OK, pages.Resize(5000, true, false));
    ExpectBlockHolds(pages, "pages");
    EXPECT_LE(5000, pages.m_nCapacity);
}

struct Cut { const char* src; int n; const char* expected; };

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
    EXPECT_EQ(NULL, text.Format(NULL));
    EXPECT_EQ("[42-abc-ff]", Str(text.Format("[%s]", text.GetText())));
    ASSERT_NE(nullptr, text.Format("%s", std::string(2000, 'q').c_str()));
    EXPECT_EQ(std::string(1023, 'q'), Str(text.GetText()));
    ExpectBlockHolds(text.m_TextStore, "format");

    CText caption;
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"),
              Str(caption.LoadResourceText(GetModuleHandleA(NULL), IDS_CAPTION)));
    ExpectBlockHolds(caption.m_TextStore, "resource text");
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
    EXPECT_EQ(NULL, kept.Format("%s", "x"));
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
    // Each step: the text (or null to go on with the last), delimiters, index, the field.
    // A 0x5C trail byte splits neither the field copied nor the fields passed over; 0x20 after a
    // lead byte is no trail byte, so it is a delimiter.
    const std::string dbcsCut = std::string(1023, 'a') + "\x95\x5C", exact(1024, 'e');
    const std::string dbcsText = dbcsCut + "bbb\\z", exactText = exact + "\\next";
    const struct { const char* text; const char* delimiters; int index; const char* field; } steps[] = {
        {"C:\\a\\\\b", "\\", 0, NULL}, {NULL, NULL, 0, NULL}, {NULL, "\\", 0, "C:"},
        {NULL, "\\", 0, "a"}, {NULL, "\\", 0, ""}, {NULL, "\\", 0, "b"}, {NULL, "\\", 0, NULL},
        {"x\\y\\z\\", "\\", 2, "y"}, {NULL, "\\", 0, "z"}, {NULL, "\\", 0, NULL},
        {NULL, "\\", 5, ""}, {NULL, "\\", 0, NULL}, {NULL, "\\/", 1, "x"},
        {"a\x95\x5C" "b\\c\x95\x5C\\d", "\\", 1, "a\x95\x5C" "b"}, {NULL, "\\", 2, "c\x95\x5C"},
        {NULL, "\\", 3, "d"}, {"\x81 x", " ", 1, "\x81"}, {NULL, " ", 0, "x"},
        // 1,023 bytes and a double-byte character: 1,025 bytes land in the token buffer.
        {dbcsText.c_str(), "\\", 1, dbcsCut.c_str()}, {NULL, "\\", 0, "bbb"}, {NULL, "\\", 0, "z"},
        // Exactly 1,024 bytes are followed by the next field, not by an empty one.
        {exactText.c_str(), "\\", 1, exact.c_str()}, {NULL, "\\", 0, "next"}};
    CText text;
    for (const auto& s : steps)
    {
        if (s.text)
            text.Assign(s.text);
        EXPECT_EQ(Str(s.field), Str(text.Tokenize(s.delimiters, s.index)))
            << Str(text.GetText()).substr(0, 12) << " " << Str(s.delimiters) << " " << s.index;
    }

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
