#include "payload/Archive.h"
#include "payload/Unpack.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include <gtest/gtest.h>

namespace
{
const HRESULT kEndOfFile = static_cast<HRESULT>(0x80070026);
const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
const HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003);
const HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);

std::string Hex(HRESULT hr)
{
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string Contents(const std::string& path)
{
    std::string data;
    if (!ReadFileBytes(path, &data))
        return "<missing>";
    return data;
}

// The archive that the payload tool packed from payload_data\tree at build time.
std::string ToolArchive()
{
    return DataDir() + "tree.pk24";
}

// Checks that dest holds the files of payload_data\tree, byte for byte.
void ExpectTreeExtracted(const std::string& dest)
{
    const std::string tree = DataDir() + "tree\\";
    const char* const names[] = {"setup.exe", "empty.dat", "piece.bin", "sub\\inner.bin"};
    for (const char* name : names)
        EXPECT_EQ(Contents(tree + name), Contents(dest + name)) << name;
    EXPECT_EQ(0u, Contents(dest + "empty.dat").size());
    EXPECT_EQ(2500u, Contents(dest + "piece.bin").size());
}

// A folder of its own for one case, with an archive file written into it.
struct CArchiveCase
{
    explicit CArchiveCase(const std::string& archive)
    {
        m_strDir = MakeTempDir("pva");
        m_strArchive = m_strDir + "archive.bin";
        m_strDest = m_strDir + "dest\\";
        CreateDirectoryA(m_strDest.c_str(), NULL);
        WriteFileBytes(m_strArchive, archive);
    }
    ~CArchiveCase() { RemoveTree(m_strDir); }
    HRESULT Extract() { return ExtractArchive(m_strArchive.c_str(), m_strDest.c_str()); }

    std::string m_strDir;
    std::string m_strArchive;
    std::string m_strDest;
};
} // namespace

TEST(ExtractArchive, CopiesEveryEntryOfAToolArchive)
{
    ASSERT_TRUE(FileExists(ToolArchive())) << ToolArchive();
    std::string dir = MakeTempDir("pva");

    // With a trailing backslash, and into an existing subfolder.
    std::string dest = dir + "with\\";
    ASSERT_TRUE(CreateDirectoryA(dest.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA((dest + "sub").c_str(), NULL));
    EXPECT_EQ(Hex(S_OK), Hex(ExtractArchive(ToolArchive().c_str(), dest.c_str())));
    ExpectTreeExtracted(dest);

    // Without the trailing backslash: the same paths. A file already there is replaced whole.
    std::string bare = dir + "without";
    ASSERT_TRUE(CreateDirectoryA(bare.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA((bare + "\\sub").c_str(), NULL));
    ASSERT_TRUE(WriteFileBytes(bare + "\\piece.bin", std::string(10000, 'x')));
    ASSERT_TRUE(WriteFileBytes(bare + "\\empty.dat", "not empty"));
    EXPECT_EQ(Hex(S_OK), Hex(ExtractArchive(ToolArchive().c_str(), bare.c_str())));
    ExpectTreeExtracted(bare + "\\");

    // No folder is made: an entry in a missing subfolder fails as its open does.
    std::string nosub = dir + "nosub\\";
    ASSERT_TRUE(CreateDirectoryA(nosub.c_str(), NULL));
    EXPECT_EQ(Hex(kPathNotFound), Hex(ExtractArchive(ToolArchive().c_str(), nosub.c_str())));
    EXPECT_FALSE(FileExists(nosub + "sub"));

    EXPECT_EQ(Hex(kFileNotFound), Hex(ExtractArchive((dir + "none.bin").c_str(), dest.c_str())));
    RemoveTree(dir);
}

TEST(ExtractArchive, FollowsTheDeclaredTotalSize)
{
    const std::string piece = TestBytes(2500, 1);
    const std::string second = TestBytes(700, 2);
    const std::string body = EntryHeader(2500, "piece.bin") + piece +
                             EntryHeader(700, "second.bin") + second;
    const LONGLONG exact = 24 + static_cast<LONGLONG>(body.size());

    {
        SCOPED_TRACE("exactly the header: no entries");
        CArchiveCase c(ArchiveHeader(24) + body);
        EXPECT_EQ(Hex(S_OK), Hex(c.Extract()));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(c.m_strDest));
    }
    {
        SCOPED_TRACE("smaller than the header");
        CArchiveCase c(ArchiveHeader(10) + body);
        EXPECT_EQ(Hex(S_OK), Hex(c.Extract()));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(c.m_strDest));
    }
    {
        SCOPED_TRACE("exact");
        CArchiveCase c(ArchiveHeader(exact) + body);
        EXPECT_EQ(Hex(S_OK), Hex(c.Extract()));
        EXPECT_EQ(piece, Contents(c.m_strDest + "piece.bin"));
        EXPECT_EQ(second, Contents(c.m_strDest + "second.bin"));
    }
    {
        SCOPED_TRACE("too large: the next entry header is missing");
        CArchiveCase c(ArchiveHeader(exact + 284 + 10) + body);
        EXPECT_EQ(Hex(kEndOfFile), Hex(c.Extract()));
        EXPECT_EQ(piece, Contents(c.m_strDest + "piece.bin"));
        EXPECT_EQ(second, Contents(c.m_strDest + "second.bin"));
    }
    {
        SCOPED_TRACE("too small to cover the first entry: it is copied whole, the next not read");
        CArchiveCase c(ArchiveHeader(24 + 284 + 100) + body);
        EXPECT_EQ(Hex(S_OK), Hex(c.Extract()));
        EXPECT_EQ(piece, Contents(c.m_strDest + "piece.bin"));
        EXPECT_EQ(std::vector<std::string>{"piece.bin"}, ListFolder(c.m_strDest));
    }
}

TEST(ExtractArchive, EntryContents)
{
    {
        SCOPED_TRACE("a 0-byte entry makes an empty file; a 2,500-byte one is copied whole");
        const std::string piece = TestBytes(2500, 3);
        CArchiveCase c(BuildArchive({{"zero.bin", ""}, {"piece.bin", piece}}));
        EXPECT_EQ(Hex(S_OK), Hex(c.Extract()));
        EXPECT_EQ("", Contents(c.m_strDest + "zero.bin"));
        EXPECT_EQ(piece, Contents(c.m_strDest + "piece.bin"));
    }
    {
        SCOPED_TRACE("a negative data size copies nothing");
        CArchiveCase c(ArchiveHeader(24 + 284 - 5) + EntryHeader(-5, "neg.bin"));
        EXPECT_EQ(Hex(S_OK), Hex(c.Extract()));
        EXPECT_EQ("", Contents(c.m_strDest + "neg.bin"));
    }
    {
        SCOPED_TRACE("sizes at the ends of the 64-bit range end without hanging");
        const LONGLONG kMax = 0x7FFFFFFFFFFFFFFFLL;
        CArchiveCase huge(ArchiveHeader(kMax) + EntryHeader(kMax, "huge.bin") + "abc");
        EXPECT_EQ(Hex(kEndOfFile), Hex(huge.Extract()));
        EXPECT_EQ("abc", Contents(huge.m_strDest + "huge.bin"));
        CArchiveCase lowest(ArchiveHeader(24 + 284) + EntryHeader(-kMax - 1, "low.bin") +
                            EntryHeader(3, "next.bin") + "xyz");
        EXPECT_EQ(Hex(S_OK), Hex(lowest.Extract()));
        EXPECT_EQ(std::vector<std::string>{"low.bin"}, ListFolder(lowest.m_strDest));
    }
    {
        SCOPED_TRACE("cut short inside an entry's content: the part there is stays");
        const std::string data = TestBytes(2500, 4);
        std::string archive = BuildArchive({{"first.bin", "abc"}, {"cut.bin", data}});
        archive.resize(archive.size() - 1500);
        CArchiveCase c(archive);
        EXPECT_EQ(Hex(kEndOfFile), Hex(c.Extract()));
        EXPECT_EQ("abc", Contents(c.m_strDest + "first.bin"));
        EXPECT_EQ(data.substr(0, 1000), Contents(c.m_strDest + "cut.bin"));
    }
    {
        SCOPED_TRACE("cut short inside an entry header: nothing is made from a part of a name");
        std::string archive = BuildArchive({{"first.bin", "abc"}, {"secondname.bin", "xyz"}});
        archive.resize(24 + 284 + 3 + 20 + 6);
        CArchiveCase c(archive);
        EXPECT_EQ(Hex(kEndOfFile), Hex(c.Extract()));
        EXPECT_EQ(std::vector<std::string>{"first.bin"}, ListFolder(c.m_strDest));
    }
    {
        SCOPED_TRACE("an empty archive file");
        CArchiveCase c("");
        EXPECT_EQ(Hex(kEndOfFile), Hex(c.Extract()));
    }
    {
        SCOPED_TRACE("not PK24");
        std::string archive = BuildArchive({{"a.bin", "abc"}});
        archive[11] = '5';
        CArchiveCase c(archive);
        EXPECT_EQ(Hex(E_FAIL), Hex(c.Extract()));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(c.m_strDest));
    }
}

// Entry names are paths under the destination; none may reach outside it or anywhere else
// unexpected. The archive's entry before the bad one is written, the bad one and the rest not.
TEST(ExtractArchive, RefusesNamesThatLeaveTheDestination)
{
    const std::string kanji = Sjis(u8"表");   // 0x95 0x5C: its second byte is a backslash
    ASSERT_EQ("\x95\x5C", kanji);
    const std::string bad[] = {
        "",
        "C:\\evil.txt",
        "C:evil.txt",
        "c:/evil.txt",
        "\\evil.txt",
        "/evil.txt",
        "\\\\server\\share\\evil.txt",
        "..\\evil.txt",
        "../evil.txt",
        "sub\\..\\..\\evil.txt",
        "sub/../../evil.txt",
        "..",
        ".",
        ".\\evil.txt",
        ". .\\evil.txt",
        "...\\evil.txt",
        "sub\\\\evil.txt",
        "sub\\",
        "evil.txt:stream",
        "evil.txt::$DATA",
        "NUL",
        "sub\\con.txt",
        "COM1",
        "lpt9.log",
        kanji + "\\..\\..\\evil.txt",
        std::string(264, 'a'),   // no terminator inside the name field
    };
    for (const std::string& name : bad)
    {
        SCOPED_TRACE("entry name \"" + name + "\"");
        std::string dir = MakeTempDir("pvn");
        std::string dest = dir + "a\\b\\";
        CreateDirectoryA((dir + "a").c_str(), NULL);
        CreateDirectoryA(dest.c_str(), NULL);
        CreateDirectoryA((dest + "sub").c_str(), NULL);
        std::string archive = BuildArchive({{"first.txt", "1"}, {name, "evil"}, {"after.txt", "2"}});
        ASSERT_TRUE(WriteFileBytes(dir + "archive.bin", archive));

        EXPECT_EQ(Hex(E_FAIL), Hex(ExtractArchive((dir + "archive.bin").c_str(), dest.c_str())));
        EXPECT_EQ((std::vector<std::string>{"first.txt", "sub"}), ListFolder(dest));
        EXPECT_EQ(std::vector<std::string>(), ListFolder(dest + "sub\\"));
        EXPECT_EQ((std::vector<std::string>{"a", "archive.bin"}), ListFolder(dir));
        EXPECT_EQ(std::vector<std::string>{"b"}, ListFolder(dir + "a\\"));
        EXPECT_FALSE(FileExists("C:\\evil.txt"));
        RemoveTree(dir);
    }
}

// Names in code page 932. The 0x5C that is the second byte of a character is no separator.
// Wine keeps such names only when its Unix locale can hold them (ja_JP.UTF-8 generated).
TEST(ExtractArchive, DoubleByteNames)
{
    const std::string kanji = Sjis(u8"表");
    std::string probeDir = MakeTempDir("pvk");
    const bool namesWork = WriteFileBytes(probeDir + Sjis(u8"表示"), "probe");
    RemoveTree(probeDir);
    if (!namesWork)
        GTEST_SKIP() << "this Wine prefix cannot hold code page 932 file names: "
                        "the ja_JP.UTF-8 locale of the host is missing";

    std::string dest = MakeTempDir("pvk");
    EXPECT_EQ(Hex(S_OK), Hex(ExtractArchive((DataDir() + "kanji.pk24").c_str(), dest.c_str())));
    const std::string name = Sjis(u8"表示.txt");
    EXPECT_EQ(Contents(DataDir() + "kanji\\" + name), Contents(dest + name));
    RemoveTree(dest);

    // Plain names, though a byte-wise look would see a separator and an empty or dot level.
    struct
    {
        std::string name;
        std::string folder;   // made under the destination first
    } const good[] = {
        {"." + kanji, ""},
        {"a" + kanji, ""},
        {kanji + "\\x.txt", kanji},
        {"sub\\a..b.txt", "sub"},
    };
    for (const auto& entry : good)
    {
        SCOPED_TRACE("entry name \"" + entry.name + "\"");
        std::string dir = MakeTempDir("pvn");
        if (!entry.folder.empty())
            CreateDirectoryA((dir + entry.folder).c_str(), NULL);
        ASSERT_TRUE(WriteFileBytes(dir + "archive.bin", BuildArchive({{entry.name, "fine"}})));
        EXPECT_EQ(Hex(S_OK), Hex(ExtractArchive((dir + "archive.bin").c_str(), dir.c_str())));
        EXPECT_EQ("fine", Contents(dir + entry.name));
        RemoveTree(dir);
    }
}

// Drive T: is a 50 MiB tmpfs (tests/with-wine.sh). It is filled up to about a megabyte, so
// that the 3,000,000-byte resource and a 3,000,000-byte entry run out of room half-way.
TEST(PayloadLowSpace, AFullDiskFailsAndLeavesThePartialFile)
{
    char drive[8];
    if (!GetEnvironmentVariableA("PIVORA_LOWSPACE_DRIVE", drive, sizeof(drive)))
        GTEST_SKIP() << "no low-space drive";
    std::string root = std::string(drive) + "\\";
    std::string filler = root + "filler.bin";
    HANDLE file = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string block(1 << 20, 'f');
    DWORD written = 0;
    while (WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, NULL) &&
           written == block.size())
    {
    }
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    size.QuadPart = size.QuadPart > (1 << 20) ? size.QuadPart - (1 << 20) : 0;
    SetFilePointerEx(file, size, NULL, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    ULARGE_INTEGER freeBytes;
    ASSERT_TRUE(GetDiskFreeSpaceExA(root.c_str(), &freeBytes, NULL, NULL));
    EXPECT_LT(freeBytes.QuadPart, 2000000u);

    std::string unpacked = root + "unpacked.bin";
    EXPECT_FALSE(UnpackResource(IDR_TEST_3000000, unpacked.c_str()));
    std::string partial;
    EXPECT_TRUE(ReadFileBytes(unpacked, &partial));
    EXPECT_LT(partial.size(), 3000000u);
    DeleteFileA(unpacked.c_str());

    std::string dir = MakeTempDir("pvf");
    std::string big = TestBytes(3000000, 5);
    ASSERT_TRUE(WriteFileBytes(dir + "archive.bin", BuildArchive({{"big.bin", big}})));
    EXPECT_EQ(Hex(kDiskFull), Hex(ExtractArchive((dir + "archive.bin").c_str(), root.c_str())));
    EXPECT_TRUE(ReadFileBytes(root + "big.bin", &partial));
    EXPECT_LT(partial.size(), 3000000u);
    EXPECT_EQ(big.substr(0, 4096), partial.substr(0, 4096));

    DeleteFileA((root + "big.bin").c_str());
    DeleteFileA(filler.c_str());
    RemoveTree(dir);
}
