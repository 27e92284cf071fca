#include "payload/Archive.h"
#include "payload/Unpack.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include <gtest/gtest.h>
#include <map>

namespace
{
const HRESULT kEndOfFile = static_cast<HRESULT>(0x80070026);
const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
const HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003);
const HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
const HRESULT kFileExists = static_cast<HRESULT>(0x80070050);
typedef std::map<std::string, std::string> FileMap;

std::string Hex(HRESULT hr)
{
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The files directly in a folder, with their contents; subfolders are left out.
FileMap Files(const std::string& folder)
{
    FileMap files;
    for (const std::string& name : ListFolder(folder))
        if (!ReadFileBytes(folder + name, &files[name]))
            files.erase(name);
    return files;
}

// A folder of its own holding archive.bin and the destination a\b\ with a subfolder sub.
struct CArchiveCase
{
    explicit CArchiveCase(const std::string& archive)
        : m_strDir(MakeTempDir("pva")), m_strDest(m_strDir + "a\\b\\")
    {
        CreateDirectoryA((m_strDir + "a").c_str(), NULL);
        CreateDirectoryA(m_strDest.c_str(), NULL);
        CreateDirectoryA((m_strDest + "sub").c_str(), NULL);
        WriteFileBytes(m_strDir + "archive.bin", archive);
    }
    ~CArchiveCase() { RemoveTree(m_strDir); }
    std::string Extract(const std::string& dest)
    {
        return Hex(ExtractArchive((m_strDir + "archive.bin").c_str(), dest.c_str()));
    }
    std::string Extract() { return Extract(m_strDest); }

    std::string m_strDir;
    std::string m_strDest;
};
} // namespace

TEST(ExtractArchive, CopiesEveryEntryOfAToolArchive)
{
    // payload_data\tree, packed by the payload tool at build time: a 0-byte and a 2,500-byte
    // file, setup.exe, and sub\inner.bin.
    const std::string tree = DataDir() + "tree\\";
    std::string archive;
    ASSERT_TRUE(ReadFileBytes(DataDir() + "tree.pk24", &archive));
    FileMap expected = Files(tree);
    ASSERT_EQ((std::vector<std::string>{"empty.dat", "piece.bin", "setup.exe", "sub"}), ListFolder(tree));
    ASSERT_EQ(2500u, expected["piece.bin"].size());

    // With and without the trailing backslash.
    for (bool backslash : {true, false})
    {
        SCOPED_TRACE(backslash ? "with backslash" : "without backslash");
        CArchiveCase c(archive);
        const size_t cut = backslash ? 0 : 1;
        EXPECT_EQ(Hex(S_OK), c.Extract(c.m_strDest.substr(0, c.m_strDest.size() - cut)));
        EXPECT_EQ(expected, Files(c.m_strDest));
        EXPECT_EQ(Files(tree + "sub\\"), Files(c.m_strDest + "sub\\"));
    }
    CArchiveCase c(archive);

    // No folder is made: the entry in the missing subfolder fails as its open does.
    EXPECT_EQ(Hex(kPathNotFound), c.Extract(c.m_strDir + "a\\"));
    EXPECT_FALSE(FileExists(c.m_strDir + "a\\sub"));
    EXPECT_EQ(Hex(kFileNotFound),
              Hex(ExtractArchive((c.m_strDir + "none.bin").c_str(), c.m_strDest.c_str())));
}

TEST(ExtractArchive, HandMadeArchives)
{
    const std::string piece = TestBytes(2500, 1), second = TestBytes(700, 2);
    const std::string body = EntryHeader(2500, "piece.bin") + piece + EntryHeader(700, "second.bin") + second;
    const LONGLONG exact = 24 + static_cast<LONGLONG>(body.size());
    const LONGLONG kMax = 0x7FFFFFFFFFFFFFFFLL;
    std::string cutInEntry = BuildArchive({{"first.bin", "abc"}, {"cut.bin", piece}});
    cutInEntry.resize(cutInEntry.size() - 1500);
    std::string cutInHeader = BuildArchive({{"first.bin", "abc"}, {"secondname.bin", "xyz"}});
    cutInHeader.resize(24 + 284 + 3 + 20 + 6);   // a part of the second name
    std::string notPk24 = BuildArchive({{"a.bin", "abc"}});
    notPk24[11] = '5';

    const struct
    {
        const char* what;
        std::string archive;
        HRESULT hr;
        FileMap files;
    } cases[] = {
        {"total size exactly the header", ArchiveHeader(24) + body, S_OK, {}},
        {"total size smaller than the header", ArchiveHeader(10) + body, S_OK, {}},
        {"total size too large", ArchiveHeader(exact + 294) + body, kEndOfFile,
         {{"piece.bin", piece}, {"second.bin", second}}},
        {"total size inside the first entry: copied whole, the next not read",
         ArchiveHeader(24 + 284 + 100) + body, S_OK, {{"piece.bin", piece}}},
        {"0-byte and 2,500-byte entries", BuildArchive({{"zero.bin", ""}, {"piece.bin", piece}}), S_OK,
         {{"zero.bin", ""}, {"piece.bin", piece}}},
        {"negative data size", ArchiveHeader(24 + 284 - 5) + EntryHeader(-5, "neg.bin"), S_OK,
         {{"neg.bin", ""}}},
        {"largest sizes", ArchiveHeader(kMax) + EntryHeader(kMax, "huge.bin") + "abc", kEndOfFile,
         {{"huge.bin", "abc"}}},
        {"lowest data size",
         ArchiveHeader(24 + 284) + EntryHeader(-kMax - 1, "low.bin") + EntryHeader(3, "next.bin") + "xyz",
         S_OK, {{"low.bin", ""}}},
        {"cut short inside an entry", cutInEntry, kEndOfFile,
         {{"first.bin", "abc"}, {"cut.bin", piece.substr(0, 1000)}}},
        {"cut short inside an entry header", cutInHeader, kEndOfFile, {{"first.bin", "abc"}}},
        {"empty file", "", kEndOfFile, {}},
        {"not PK24", notPk24, E_FAIL, {}},
        // Every file is made new: a second entry for a file that is there already fails.
        {"exact repeat", BuildArchive({{"setup.exe", "1"}, {"setup.exe", "2"}, {"after.txt", ""}}),
         kFileExists, {{"setup.exe", "1"}}},
        {"repeat in another case", BuildArchive({{"setup.exe", "1"}, {"SeTuP.ExE", "2"}}), kFileExists,
         {{"setup.exe", "1"}}},
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE(t.what);
        CArchiveCase c(t.archive);
        EXPECT_EQ(Hex(t.hr), c.Extract());
        EXPECT_EQ(t.files, Files(c.m_strDest));
    }

    // An entry named like the archive, in the folder that holds it, leaves the archive whole.
    const std::string self = BuildArchive({{"ARCHIVE.BIN", "x"}, {"after.txt", "2"}});
    CArchiveCase c(self);
    EXPECT_EQ(Hex(kFileExists), c.Extract(c.m_strDir));
    EXPECT_EQ(self.size(), Files(c.m_strDir)["archive.bin"].size()) << "the archive was cut";
}

// Entry names are paths under the destination; none may reach outside it or anywhere else
// unexpected. The entry before the bad one is written, the bad one and the rest not.
TEST(ExtractArchive, RefusesNamesThatLeaveTheDestination)
{
    const std::string kanji = Sjis(u8"表");   // 0x95 0x5C: its second byte is a backslash
    ASSERT_EQ("\x95\x5C", kanji);
    const std::string bad[] = {
        "", "C:\\evil.txt", "C:evil.txt", "c:/evil.txt", "\\evil.txt", "/evil.txt",
        "\\\\server\\share\\evil.txt", "..\\evil.txt", "../evil.txt", "sub\\..\\..\\evil.txt",
        "sub/../../evil.txt", "..", ".", ".\\evil.txt", ". .\\evil.txt", "...\\evil.txt",
        "sub\\\\evil.txt", "sub\\", "evil.txt:stream", "evil.txt::$DATA", "NUL", "sub\\con.txt",
        "COM1", "lpt9.log", kanji + "\\..\\..\\evil.txt",
        // Levels that Windows would change: the dot or blank at the end dropped (so that
        // "setup.exe." would be setup.exe again), a lead byte without its trail byte.
        "evil.txt.", "evil.txt  ", "sub.\\evil.txt", "sub \\evil.txt", "evil.txt\x95", "sub\x95/evil.txt",
        std::string(264, 'a'),   // no terminator inside the name field
    };
    for (const std::string& name : bad)
    {
        SCOPED_TRACE("entry name \"" + name + "\"");
        CArchiveCase c(BuildArchive({{"first.txt", "1"}, {name, "evil"}, {"after.txt", "2"}}));
        EXPECT_EQ(Hex(E_FAIL), c.Extract());
        EXPECT_EQ((std::vector<std::string>{"first.txt", "sub"}), ListFolder(c.m_strDest));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(c.m_strDest + "sub\\"));
        EXPECT_EQ((std::vector<std::string>{"a", "archive.bin"}), ListFolder(c.m_strDir));
        EXPECT_EQ(std::vector<std::string>{"b"}, ListFolder(c.m_strDir + "a\\"));
        EXPECT_FALSE(FileExists("C:\\evil.txt"));
    }
}

// Names in code page 932: a 0x5C that is the second byte of a character is no separator.
// Wine keeps such names only when its Unix locale can hold them (ja_JP.UTF-8 generated).
TEST(ExtractArchive, DoubleByteNames)
{
    const std::string kanji = Sjis(u8"表");
    std::string archive;
    ASSERT_TRUE(ReadFileBytes(DataDir() + "kanji.pk24", &archive));
    CArchiveCase tool(archive);
    if (!WriteFileBytes(tool.m_strDir + Sjis(u8"表示"), "probe"))
        GTEST_SKIP() << "this Wine prefix cannot hold code page 932 file names: "
                        "the ja_JP.UTF-8 locale of the host is missing";
    EXPECT_EQ(Hex(S_OK), tool.Extract());
    EXPECT_EQ(Files(DataDir() + "kanji\\"), Files(tool.m_strDest));

    // Plain names, though a byte-wise look would see a separator and an empty or dot level.
    for (const std::string& name : {"." + kanji, "a" + kanji, kanji + "\\x.txt", std::string("sub\\a..b.txt")})
    {
        SCOPED_TRACE("entry name \"" + name + "\"");
        CArchiveCase c(BuildArchive({{name, "fine"}}));
        CreateDirectoryA((c.m_strDest + kanji).c_str(), NULL);
        EXPECT_EQ(Hex(S_OK), c.Extract());
        std::string data;
        EXPECT_TRUE(ReadFileBytes(c.m_strDest + name, &data));
        EXPECT_EQ("fine", data);
    }
}

// Drive T: is a 50 MiB tmpfs (tests/with-wine.sh), filled here to about a megabyte short, so
// that 3,000,000 bytes run out of room half-way: the failure is reported, the part stays.
TEST(PayloadLowSpace, AFullDiskFailsAndLeavesThePartialFile)
{
    char drive[8];
    if (!GetEnvironmentVariableA("PIVORA_LOWSPACE_DRIVE", drive, sizeof(drive)))
        GTEST_SKIP() << "no low-space drive";
    const std::string root = std::string(drive) + "\\";
    int fillers = 0;
    while (WriteFileBytes(root + "fill" + std::to_string(fillers) + ".bin", std::string(1 << 20, 'f')))
        ++fillers;
    DeleteFileA((root + "fill0.bin").c_str());
    ULARGE_INTEGER freeBytes;
    ASSERT_TRUE(GetDiskFreeSpaceExA(root.c_str(), &freeBytes, NULL, NULL));
    EXPECT_LT(freeBytes.QuadPart, 2000000u);

    std::string partial;
    EXPECT_FALSE(UnpackResource(IDR_TEST_3000000, (root + "unpacked.bin").c_str()));
    EXPECT_TRUE(ReadFileBytes(root + "unpacked.bin", &partial));
    EXPECT_LT(partial.size(), 3000000u);
    DeleteFileA((root + "unpacked.bin").c_str());

    const std::string big = TestBytes(3000000, 5);
    CArchiveCase c(BuildArchive({{"big.bin", big}}));
    EXPECT_EQ(Hex(kDiskFull), c.Extract(root));
    EXPECT_TRUE(ReadFileBytes(root + "big.bin", &partial));
    EXPECT_LT(partial.size(), 3000000u);
    EXPECT_EQ(big.substr(0, 4096), partial.substr(0, 4096));
    DeleteFileA((root + "big.bin").c_str());
    for (int i = 0; i <= fillers; ++i)
        DeleteFileA((root + "fill" + std::to_string(i) + ".bin").c_str());
}
