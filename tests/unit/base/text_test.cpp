// CStorage and CText: the growth rule, double-byte aware assignment and appending, formatting,
// the tokenizer, the backslash rules and path splitting, with real code page 932 bytes.
#include <gtest/gtest.h>
#include "base/Text.h"
#include "common/TestSupport.h"
#include "resources/resource.h"
#include <string>

namespace
{
// A granularity whose blocks the heap of a 32-bit process can never give.
const LONGLONG kHugeGrowBy = 0x7FFFFF00;

std::string Str(const char* text)
{
    return text ? std::string(text) : std::string("(null)");
}
}

TEST(Storage, GrowthRule)
{
    CText text;
    text.Assign("0123456789");                          // asks for 11
    EXPECT_EQ(259, text.m_TextStore.m_nCapacity);
    void* pFirst = text.m_TextStore.m_pBlock;

    text.Assign(std::string(258, 'a').c_str());         // asks for 259: in place
    EXPECT_EQ(259, text.m_TextStore.m_nCapacity);
    EXPECT_EQ(pFirst, text.m_TextStore.m_pBlock);
    EXPECT_EQ(258, text.GetLength());

    text.Assign(std::string(259, 'b').c_str());         // asks for 260: next block
    EXPECT_EQ(515, text.m_TextStore.m_nCapacity);
    EXPECT_EQ(std::string(259, 'b'), Str(text.GetText()));

    CText t255(std::string(255, 'c').c_str());          // asks for 256
    EXPECT_EQ(259, t255.m_TextStore.m_nCapacity);
    CText t300(std::string(300, 'd').c_str());          // asks for 301
    EXPECT_EQ(515, t300.m_TextStore.m_nCapacity);

    // Blocks never shrink.
    t300.Assign("x");
    EXPECT_EQ(515, t300.m_TextStore.m_nCapacity);

    // Every byte of the capacity past the aligned start is usable.
    BYTE* pData = text.m_TextStore.m_pData;
    EXPECT_EQ(0u, (ULONG_PTR)pData % 4);
    memset(pData, 'z', (size_t)text.m_TextStore.m_nCapacity);
}

TEST(Storage, ResizeResults)
{
    CStorage store;
    EXPECT_EQ(1, store.m_nGrowBy);
    EXPECT_EQ(4, store.m_nAlign);
    EXPECT_EQ(NULL, store.m_pBlock);
    store.m_nGrowBy = 256;

    EXPECT_EQ(S_OK, store.Resize(100, true, false));
    EXPECT_EQ(259, store.m_nCapacity);
    for (int i = 0; i < 259; i++)
        ASSERT_EQ(0, store.m_pData[i]) << "byte " << i;
    void* pBlock = store.m_pBlock;

    EXPECT_EQ(S_FALSE, store.Resize(259, false, false));
    EXPECT_EQ(pBlock, store.m_pBlock);
    EXPECT_EQ(259, store.m_nSize);

    // Keep: the old content moves along, the new bytes are cleared with zeroFill.
    memcpy(store.m_pData, "hello", 5);
    EXPECT_EQ(S_OK, store.Resize(260, true, true));
    EXPECT_EQ(515, store.m_nCapacity);
    EXPECT_EQ(0, memcmp(store.m_pData, "hello", 5));
    for (int i = 259; i < 515; i++)
        ASSERT_EQ(0, store.m_pData[i]) << "byte " << i;

    // In place with keep clears nothing; without keep and with zeroFill the asked bytes are cleared.
    EXPECT_EQ(S_FALSE, store.Resize(10, true, true));
    EXPECT_EQ(0, memcmp(store.m_pData, "hello", 5));
    EXPECT_EQ(S_FALSE, store.Resize(3, true, false));
    EXPECT_EQ(0, memcmp(store.m_pData, "\0\0\0lo", 5));

    // FreeBlock keeps the capacity: a resize within it has no block to serve it.
    EXPECT_EQ(S_OK, store.FreeBlock());
    EXPECT_EQ(NULL, store.m_pData);
    EXPECT_EQ(515, store.m_nCapacity);
    EXPECT_EQ(E_UNEXPECTED, store.Resize(10, false, false));
    EXPECT_EQ(S_OK, store.Reset());
    EXPECT_EQ(0, store.m_nCapacity);
    EXPECT_EQ(S_OK, store.Resize(10, false, true));
    EXPECT_EQ(259, store.m_nCapacity);
}

TEST(Storage, Transfers)
{
    CStorage store;
    EXPECT_EQ(E_INVALIDARG, store.SetBytes(4, NULL));
    EXPECT_EQ(NULL, store.m_pBlock);
    EXPECT_EQ(E_INVALIDARG, store.WriteAt(0, 4, NULL));
    char szOut[16] = "untouched";
    EXPECT_EQ(E_FAIL, store.ReadInto(szOut, 4));            // nothing held
    EXPECT_STREQ("untouched", szOut);

    EXPECT_EQ(S_OK, store.SetBytes(4, "abcd"));
    EXPECT_EQ(7, store.m_nCapacity);                        // granularity 1: 4 + 3
    EXPECT_EQ(S_OK, store.WriteAt(4, 3, "efg"));            // 7 fits
    EXPECT_EQ(7, store.m_nSize);
    EXPECT_EQ(S_OK, store.WriteAt(6, 4, "WXYZ"));           // 10 needs a new block, keeps "abcdef"
    EXPECT_EQ(13, store.m_nCapacity);
    EXPECT_EQ(0, memcmp(store.m_pData, "abcdefWXYZ", 10));

    memset(szOut, 0, sizeof(szOut));
    EXPECT_EQ(S_OK, store.ReadInto(szOut, 3));
    EXPECT_STREQ("abc", szOut);
    EXPECT_EQ(E_FAIL, store.ReadInto(NULL, 3));

    // Fast copy moves whole 64-byte blocks and then the rest, front to back.
    char szFrom[200], szTo[200];
    for (int i = 0; i < 200; i++)
        szFrom[i] = (char)(i * 7);
    memset(szTo, 0, sizeof(szTo));
    store.m_bFastCopy = true;
    EXPECT_EQ(S_OK, store.CopyBytes(szTo, szFrom, 199));
    EXPECT_EQ(0, memcmp(szTo, szFrom, 199));
    EXPECT_EQ(0, szTo[199]);

    // The page back end.
    CStorage pages;
    pages.m_bPages = true;
    pages.m_nGrowBy = 4096;
    EXPECT_EQ(S_OK, pages.Resize(5000, true, false));
    EXPECT_EQ(8195, pages.m_nCapacity);
    EXPECT_EQ(0u, (ULONG_PTR)pages.m_pBlock % 4096);
    memset(pages.m_pData, 1, 8195);
    EXPECT_EQ(S_OK, pages.Reset());
    EXPECT_EQ(NULL, pages.m_pBlock);
}

TEST(Storage, FailedAllocationKeepsEverything)
{
    CStorage store;
    store.m_nGrowBy = 256;
    ASSERT_EQ(S_OK, store.SetBytes(4, "abcd"));
    void* pBlock = store.m_pBlock;
    store.m_nGrowBy = kHugeGrowBy;
    EXPECT_EQ(E_OUTOFMEMORY, store.Resize(300, true, true));
    EXPECT_EQ(pBlock, store.m_pBlock);
    EXPECT_EQ(259, store.m_nCapacity);
    EXPECT_EQ(0, memcmp(store.m_pData, "abcd", 4));

    // A block size beyond 32 bits is refused, not cut to its low bits.
    store.m_nGrowBy = 0x100000000LL;
    EXPECT_EQ(E_OUTOFMEMORY, store.Resize(300, false, true));
    EXPECT_EQ(259, store.m_nCapacity);

    CText text("abc");
    void* pText = text.m_TextStore.m_pBlock;
    text.m_TextStore.m_nGrowBy = kHugeGrowBy;
    std::string big(300, 'x');
    EXPECT_EQ(NULL, text.Assign(big.c_str()));
    EXPECT_EQ("abc", Str(text.GetText()));
    EXPECT_EQ(text.GetText(), text.Append(big.c_str()));
    EXPECT_EQ("abc", Str(text.GetText()));
    EXPECT_EQ(NULL, text.Format("%s", "x"));                // needs 1,028 bytes
    EXPECT_EQ(NULL, text.LoadResourceText(GetModuleHandleA(NULL), IDS_CAPTION));
    EXPECT_EQ("abc", Str(text.GetText()));
    EXPECT_EQ(pText, text.m_TextStore.m_pBlock);

    text.m_ScratchStore.m_nGrowBy = kHugeGrowBy;
    EXPECT_EQ(NULL, text.ScratchCopy());
    EXPECT_EQ(NULL, text.Tokenize("\\", 1));
    EXPECT_EQ(NULL, text.m_pToken);
}

TEST(Text, EmptyAndAssign)
{
    CText empty;
    EXPECT_EQ(NULL, empty.GetText());
    EXPECT_EQ(0, empty.GetLength());
    EXPECT_EQ(NULL, empty.AddBackslash());
    EXPECT_EQ(NULL, empty.m_TextStore.m_pBlock);
    EXPECT_EQ(NULL, empty.RemoveBackslash());
    EXPECT_EQ("", Str(empty.ScratchCopy()));
    EXPECT_EQ(NULL, empty.Tokenize("\\", 1));

    CText text;
    EXPECT_EQ("abc", Str(text.Assign("abc", -1)));
    EXPECT_EQ(259, text.m_TextStore.m_nCapacity);
    EXPECT_EQ("ab", Str(text.Assign("abc", 2)));
    EXPECT_EQ("", Str(text.Assign("abc", 0)));
    EXPECT_EQ("", Str(text.Assign(NULL, 5)));
    // A shorter source is padded with zero bytes up to the length.
    text.Assign("zzzzzzzz");
    EXPECT_EQ("ab", Str(text.Assign("ab", 6)));
    EXPECT_EQ(0, memcmp(text.GetText(), "ab\0\0\0\0\0", 7));

    // Copies hold the text only.
    text.Assign("C:\\x\\y");
    ASSERT_NE(nullptr, text.Tokenize("\\", 1));
    CText copy(text);
    EXPECT_EQ("C:\\x\\y", Str(copy.GetText()));
    EXPECT_NE(text.GetText(), copy.GetText());
    EXPECT_EQ(NULL, copy.m_pCursor);
    EXPECT_EQ(NULL, copy.m_pToken);
    CText other;
    other = text;
    EXPECT_EQ("C:\\x\\y", Str(other.GetText()));
    other.Assign(other);
    EXPECT_EQ("C:\\x\\y", Str(other.GetText()));
    // A source inside the text itself.
    EXPECT_EQ("x\\y", Str(other.Assign(other.GetText() + 3, -1)));
}

TEST(Text, DoubleByteCuts)
{
    CText text;
    // 0x95 0x5C is one character whose second byte is a backslash.
    const char* kWithPair = "A\x95\x5C" "B";
    EXPECT_EQ("A", Str(text.Assign(kWithPair, 2)));
    EXPECT_EQ(1, text.GetLength());
    EXPECT_EQ("A\x95\x5C", Str(text.Assign(kWithPair, 3)));
    // A lead byte followed by an invalid trail byte is two single bytes: no cut.
    EXPECT_EQ("A\x81", Str(text.Assign("A\x81\x7F", 2)));
    EXPECT_EQ("A\x81", Str(text.Assign("A\x81\x20", 2)));
    EXPECT_EQ("A", Str(text.Assign("A\x81\x40", 2)));
    EXPECT_EQ("A", Str(text.Assign("A\x81\xFC", 2)));
    EXPECT_EQ("A\x81", Str(text.Assign("A\x81\xFD", 2)));

    CText appended;
    EXPECT_EQ("\\", Str(appended.Append("\\", -1)));
    EXPECT_EQ(1, appended.GetLength());
    EXPECT_EQ("\\", Str(appended.Append(NULL, 3)));
    EXPECT_EQ("\\ab", Str(appended.Append("abcd", 2)));
    EXPECT_EQ("\\abcd", Str(appended.Append("cd", 0)));
    EXPECT_EQ("\\abcdX", Str(appended.Append("X\x95\x5C", 2)));     // the cut character is left out
    EXPECT_EQ("\\abcdXY\x95\x5C", Str(appended.Append("Y\x95\x5C", 3)));

    // A lone lead byte at the end is overwritten by the first appended byte.
    text.Assign("ab\x95");
    EXPECT_EQ("abcd", Str(text.Append("cd")));
    // ... but a trail byte that looks like a lead byte is part of its character.
    text.Assign("\x95\x95");
    EXPECT_EQ("\x95\x95x", Str(text.Append("x")));
    // ... and a lead byte followed by an invalid trail byte is not a character.
    text.Assign("\x81\x20");
    EXPECT_EQ("\x81\x20x", Str(text.Append("x")));

    // Appending the text to itself, across a block change.
    std::string half(200, 'h');
    text.Assign(half.c_str());
    EXPECT_EQ(half + half, Str(text.Append(text.GetText())));
    EXPECT_EQ(515, text.m_TextStore.m_nCapacity);
}

TEST(Text, FormatLoadScratch)
{
    CText text;
    EXPECT_EQ("42-abc-ff", Str(text.Format("%d-%s-%x", 42, "abc", 255)));
    EXPECT_EQ(1283, text.m_TextStore.m_nCapacity);          // 9 + 1,025 asked
    EXPECT_EQ(NULL, text.Format(NULL));
    EXPECT_EQ("42-abc-ff", Str(text.GetText()));
    // The text as its own argument.
    EXPECT_EQ("[42-abc-ff]", Str(text.Format("[%s]", text.GetText())));

    std::string longArg(2000, 'q');
    ASSERT_NE(nullptr, text.Format("%s", longArg.c_str()));
    EXPECT_EQ(1023, text.GetLength());

    CText caption;
    EXPECT_EQ(Sjis(u8"Vantori セットアップ"),
              Str(caption.LoadResourceText(GetModuleHandleA(NULL), IDS_CAPTION)));
    EXPECT_EQ(1027, caption.m_TextStore.m_nCapacity);
    EXPECT_EQ("", Str(caption.LoadResourceText(GetModuleHandleA(NULL), 4321)));

    CText path("C:\\dir");
    char* pScratch = path.ScratchCopy();
    EXPECT_EQ("C:\\dir", Str(pScratch));
    EXPECT_NE(path.GetText(), pScratch);
    pScratch[0] = 'D';
    EXPECT_EQ("C:\\dir", Str(path.GetText()));
}

TEST(Text, Backslashes)
{
    CText text("C:\\Program Files");
    EXPECT_EQ("C:\\Program Files\\", Str(text.AddBackslash()));
    EXPECT_EQ("C:\\Program Files\\", Str(text.AddBackslash()));
    text.Assign("C:\\");
    EXPECT_EQ("C:\\", Str(text.AddBackslash()));
    text.Assign("C:\\\x95\x5C");
    EXPECT_EQ("C:\\\x95\x5C\\", Str(text.AddBackslash()));
    // Scanned from the start: 0x95 0x95 is a character, the 0x5C after it a real backslash.
    text.Assign("\x95\x95\x5C");
    EXPECT_EQ("\x95\x95\x5C", Str(text.AddBackslash()));
    EXPECT_EQ("\x95\x95", Str(text.RemoveBackslash()));
    text.Assign("");
    EXPECT_EQ(NULL, text.AddBackslash());
    EXPECT_EQ("", Str(text.GetText()));

    text.Assign("C:\\a\\");
    EXPECT_EQ("C:\\a", Str(text.RemoveBackslash()));
    EXPECT_EQ("C:\\a", Str(text.RemoveBackslash()));
    text.Assign("\\");
    EXPECT_EQ("", Str(text.RemoveBackslash()));
    text.Assign("x\x95\x5C");
    EXPECT_EQ("x\x95\x5C", Str(text.RemoveBackslash()));

    // The same rules on plain buffers.
    char szBuffer[8] = "C:\\a";
    EXPECT_EQ(szBuffer, AddBackslashTo(szBuffer, sizeof(szBuffer)));
    EXPECT_STREQ("C:\\a\\", szBuffer);
    EXPECT_STREQ("C:\\a", RemoveBackslashFrom(szBuffer));
    char szFull[5] = "C:\\a";
    EXPECT_EQ(NULL, AddBackslashTo(szFull, sizeof(szFull)));
    EXPECT_STREQ("C:\\a", szFull);
    char szPair[8] = "\x95\x5C";
    EXPECT_STREQ("\x95\x5C", RemoveBackslashFrom(szPair));
    EXPECT_STREQ("\x95\x5C\\", AddBackslashTo(szPair, sizeof(szPair)));
    char szEmpty[4] = "";
    EXPECT_EQ(NULL, AddBackslashTo(szEmpty, sizeof(szEmpty)));
}

TEST(Text, Paths)
{
    EXPECT_EQ("C:\\a\\b", Str(DirectoryOf(CText("C:\\a\\b\\setup.exe")).GetText()));
    EXPECT_EQ("C:\\", Str(DirectoryOf(CText("C:\\setup.exe")).GetText()));
    EXPECT_EQ("", Str(DirectoryOf(CText("setup.exe")).GetText()));
    EXPECT_EQ("C:\\a\\b", Str(DirectoryOf(CText("C:\\a\\b\\")).GetText()));
    EXPECT_EQ("\\", Str(DirectoryOf(CText("\\x")).GetText()));
    // A 0x5C trail byte is no separator.
    EXPECT_EQ("C:\\\x95\x5C", Str(DirectoryOf(CText("C:\\\x95\x5C\\setup.exe")).GetText()));
    EXPECT_EQ("C:\\", Str(DirectoryOf(CText("C:\\\x95\x5C" "file")).GetText()));

    CText dir("keep"), name("keep"), ext("keep");
    EXPECT_TRUE(SplitPath(CText("C:\\a\\b.txt"), &dir, &name, &ext));
    EXPECT_EQ("C:\\a\\", Str(dir.GetText()));
    EXPECT_EQ("b", Str(name.GetText()));
    EXPECT_EQ(".txt", Str(ext.GetText()));
    EXPECT_TRUE(SplitPath(CText("C:\\a.d\\b.tar.gz"), &dir, &name, &ext));
    EXPECT_EQ("C:\\a.d\\", Str(dir.GetText()));
    EXPECT_EQ("b.tar", Str(name.GetText()));
    EXPECT_EQ(".gz", Str(ext.GetText()));
    EXPECT_TRUE(SplitPath(CText("C:\\a.d\\noext"), NULL, &name, &ext));
    EXPECT_EQ("noext", Str(name.GetText()));
    EXPECT_EQ("", Str(ext.GetText()));
    EXPECT_TRUE(SplitPath(CText("D:file"), &dir, NULL, NULL));
    EXPECT_EQ("D:", Str(dir.GetText()));
    EXPECT_TRUE(SplitPath(CText("\x95\x5C" "a.b"), &dir, &name, &ext));
    EXPECT_EQ("", Str(dir.GetText()));
    EXPECT_EQ("\x95\x5C" "a", Str(name.GetText()));

    dir.Assign("keep");
    name.Assign("keep");
    EXPECT_FALSE(SplitPath(CText(""), &dir, &name, &ext));
    EXPECT_FALSE(SplitPath(CText(), &dir, &name, &ext));
    EXPECT_EQ("keep", Str(dir.GetText()));
    EXPECT_EQ("keep", Str(name.GetText()));

    char szJoined[8];
    EXPECT_TRUE(JoinDriveDirectory("C:\\ab\\c.exe", szJoined, sizeof(szJoined)));
    EXPECT_STREQ("C:\\ab\\", szJoined);
    EXPECT_FALSE(JoinDriveDirectory("C:\\abcdef\\c.exe", szJoined, sizeof(szJoined)));
}

TEST(Text, Tokenize)
{
    CText text("C:\\a\\\\b");
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));                // no cursor yet
    EXPECT_EQ(NULL, text.Tokenize(NULL, 0));                // restart
    EXPECT_EQ("C:", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ("a", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ("", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ("b", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ(NULL, text.m_pCursor);
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));

    text.Assign("C:\\a\\");
    EXPECT_EQ("C:", Str(text.Tokenize("\\", 1)));
    EXPECT_EQ("a", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));

    text.Assign("x\\y\\z");
    EXPECT_EQ("y", Str(text.Tokenize("\\", 2)));
    EXPECT_EQ("z", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ("", Str(text.Tokenize("\\", 5)));
    EXPECT_EQ(NULL, text.m_pCursor);
    EXPECT_EQ(NULL, text.Tokenize("\\", 0));
    EXPECT_EQ("x", Str(text.Tokenize("\\/", 1)));

    // A 0x5C trail byte splits neither the field copied nor the fields passed over.
    text.Assign("a\x95\x5C" "b\\c\x95\x5C\\d");
    EXPECT_EQ("a\x95\x5C" "b", Str(text.Tokenize("\\", 1)));
    EXPECT_EQ("c\x95\x5C", Str(text.Tokenize("\\", 2)));
    EXPECT_EQ("d", Str(text.Tokenize("\\", 3)));
    // 0x20 after a lead byte is no trail byte: it is a delimiter.
    text.Assign("\x81 x");
    EXPECT_EQ("\x81", Str(text.Tokenize(" ", 1)));
    EXPECT_EQ("x", Str(text.Tokenize(" ", 0)));
}

TEST(Text, TokenizeLongFields)
{
    // 1,023 bytes and then a double-byte character: 1,025 bytes land in the token buffer.
    std::string field = std::string(1023, 'a') + "\x95\x5C";
    CText text((field + "bbb\\z").c_str());
    char* pToken = text.Tokenize("\\", 1);
    ASSERT_NE(nullptr, pToken);
    EXPECT_EQ(1025u, strlen(pToken));
    EXPECT_EQ(field, std::string(pToken));
    EXPECT_GE(text.m_ScratchStore.m_nCapacity, 1026);
    EXPECT_EQ("bbb", Str(text.Tokenize("\\", 0)));
    EXPECT_EQ("z", Str(text.Tokenize("\\", 0)));

    // A field of exactly 1,024 bytes is followed by the next field, not by an empty one.
    std::string exact(1024, 'e');
    text.Assign((exact + "\\next").c_str());
    EXPECT_EQ(exact, Str(text.Tokenize("\\", 1)));
    EXPECT_EQ("next", Str(text.Tokenize("\\", 0)));

    // A scratch copy that moves the scratch block takes the token buffer along.
    std::string longText = std::string(1500, 'p') + "\\q";
    text.Assign(longText.c_str());
    ASSERT_NE(nullptr, text.Tokenize("\\", 1));
    char* pScratch = text.ScratchCopy();
    EXPECT_EQ(longText, Str(pScratch));
    EXPECT_EQ("q", Str(text.Tokenize("\\", 2)));
    EXPECT_EQ(reinterpret_cast<char*>(text.m_ScratchStore.m_pData), text.m_pToken);

    // Growing the text moves its block; continuing goes on over the kept text.
    text.Assign("a\\b");
    EXPECT_EQ("a", Str(text.Tokenize("\\", 1)));
    text.Append(std::string(600, 'c').c_str());
    EXPECT_EQ("b" + std::string(600, 'c'), Str(text.Tokenize("\\", 0)));
}
