// ExtractArchive: entry names that would leave the destination or change on the way, size and
// format faults, one round trip and a full disk.
#include "payload/Archive.h"
#include "payload/ChildProcess.h"
#include "payload/Unpack.h"
#include "base/Module.h"
#include "resources/resource.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include <gtest/gtest.h>
#include <map>

namespace
{
const HRESULT kEndOfFile = static_cast<HRESULT>(0x80070026);
const HRESULT kFileExists = static_cast<HRESULT>(0x80070050);
typedef std::map<std::string, std::string> FileMap;

std::string Hex(HRESULT hr)
{
    char text[16];
    return wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr)), text;
}

// The files directly in a folder with their contents; subfolders and the archive left out.
FileMap Files(const std::string& folder)
{
    FileMap files;
    for (const std::string& name : ListFolder(folder))
        if (name == "archive.bin" || !ReadFileBytes(folder + name, &files[name]))
            files.erase(name);
    return files;
}

// A folder of its own with the destination a\b\, which holds archive.bin and a subfolder sub.
struct CArchiveCase
{
    explicit CArchiveCase(const std::string& archive) : m_strDir(MakeTempDir("pva")), m_strDest(m_strDir + "a\\b\\")
    {
        CreateDirectoryA((m_strDir + "a").c_str(), NULL);
        CreateDirectoryA(m_strDest.c_str(), NULL);
        CreateDirectoryA((m_strDest + "sub").c_str(), NULL);
        WriteFileBytes(m_strDest + "archive.bin", archive);
    }
    ~CArchiveCase() { RemoveTree(m_strDir); }
    std::string Extract(const std::string& dest) { return Hex(ExtractArchive((m_strDest + "archive.bin").c_str(), dest.c_str())); }
    std::string Extract() { return Extract(m_strDest); }
    std::string m_strDir, m_strDest;
};
} // namespace

// The entry before the bad one is written, the bad one and the rest not; nothing outside the
// destination changes, the archive least of all. Every file is made new, so a name met again,
// in any case, or the archive's own name fails.
TEST(ExtractArchive, RefusesNamesThatLeaveTheDestinationOrChange)
{
    const std::string kanji = "\x95\x5C";   // 表: its second byte is a backslash
    const std::pair<std::string, HRESULT> cases[] = {{"", E_FAIL}, {"C:\\evil.txt", E_FAIL}, {"C:evil.txt", E_FAIL},
        {"c:/evil.txt", E_FAIL}, {"\\evil.txt", E_FAIL}, {"/evil.txt", E_FAIL}, {"\\\\server\\share\\evil.txt", E_FAIL},
        {"..\\evil.txt", E_FAIL}, {"sub/../../evil.txt", E_FAIL}, {kanji + "\\..\\..\\evil.txt", E_FAIL}, {"..", E_FAIL},
        {".", E_FAIL}, {". .\\evil.txt", E_FAIL}, {"sub\\\\evil.txt", E_FAIL}, {"sub\\", E_FAIL},
        {"evil.txt:stream", E_FAIL}, {"NUL", E_FAIL}, {"sub\\con.txt", E_FAIL}, {"COM1", E_FAIL}, {"lpt9.log", E_FAIL},
        {"evil.txt.", E_FAIL}, {"evil.txt  ", E_FAIL}, {"sub.\\evil.txt", E_FAIL}, {"sub \\evil.txt", E_FAIL},
        {"evil.txt\x95", E_FAIL}, {"sub\x95/evil.txt", E_FAIL}, {std::string(264, 'a'), E_FAIL},
        {"first.txt", kFileExists}, {"FiRsT.TxT", kFileExists}, {"ARCHIVE.BIN", kFileExists}};
    for (const auto& t : cases)
    {
        const std::string archive = BuildArchive({{"first.txt", "1"}, {t.first, "evil"}, {"after.txt", "2"}});
        CArchiveCase c(archive);
        std::string left;
        EXPECT_EQ(Hex(t.second), c.Extract()) << "entry name \"" << t.first << "\"";
        EXPECT_EQ((FileMap{{"first.txt", "1"}}), Files(c.m_strDest)) << t.first;
        EXPECT_TRUE(ListFolder(c.m_strDest + "sub\\").empty() && ListFolder(c.m_strDir) == std::vector<std::string>{"a"} &&
                    ListFolder(c.m_strDir + "a\\") == std::vector<std::string>{"b"} && !FileExists("C:\\evil.txt"))
            << "written outside the destination: " << t.first;
        EXPECT_TRUE(ReadFileBytes(c.m_strDest + "archive.bin", &left) && left == archive) << t.first;
    }
}

TEST(ExtractArchive, SizeAndFormatFaults)
{
    const std::string piece = TestBytes(2500, 1), second = TestBytes(700, 2);
    const std::string body = EntryHeader(2500, "piece.bin") + piece + EntryHeader(700, "second.bin") + second;
    const LONGLONG kMax = 0x7FFFFFFFFFFFFFFFLL, exact = 24 + static_cast<LONGLONG>(body.size());
    std::string cutInEntry = BuildArchive({{"first.bin", "abc"}, {"cut.bin", piece}});
    cutInEntry.resize(cutInEntry.size() - 1500);
    std::string cutInHeader = BuildArchive({{"first.bin", "abc"}, {"secondname.bin", "xyz"}});
    cutInHeader.resize(24 + 284 + 3 + 20 + 6);   // a part of the second name
    std::string notPk24 = BuildArchive({{"a.bin", "abc"}});
    notPk24[11] = '5';
    const struct { const char* what; std::string archive; HRESULT hr; FileMap files; } cases[] = {
        {"total size exactly the header", ArchiveHeader(24) + body, S_OK, {}},
        {"total size below the header", ArchiveHeader(10) + body, S_OK, {}},
        {"total size too large", ArchiveHeader(exact + 294) + body, kEndOfFile, {{"piece.bin", piece}, {"second.bin", second}}},
        {"total size inside the first entry", ArchiveHeader(24 + 284 + 100) + body, S_OK, {{"piece.bin", piece}}},
        {"negative data size", ArchiveHeader(24 + 284 - 5) + EntryHeader(-5, "neg.bin"), S_OK, {{"neg.bin", ""}}},
        {"largest sizes", ArchiveHeader(kMax) + EntryHeader(kMax, "huge.bin") + "abc", kEndOfFile, {{"huge.bin", "abc"}}},
        {"lowest data size", ArchiveHeader(24 + 284) + EntryHeader(-kMax - 1, "low.bin") + EntryHeader(3, "next.bin") + "xyz",
         S_OK, {{"low.bin", ""}}},
        {"cut inside an entry", cutInEntry, kEndOfFile, {{"first.bin", "abc"}, {"cut.bin", piece.substr(0, 1000)}}},
        {"cut inside an entry header", cutInHeader, kEndOfFile, {{"first.bin", "abc"}}},
        {"empty file", "", kEndOfFile, {}},
        {"not PK24", notPk24, E_FAIL, {}},
        {"no folder is made", BuildArchive({{"none\\x.bin", "x"}}), static_cast<HRESULT>(0x80070003), {}}};
    for (const auto& t : cases)
    {
        CArchiveCase c(t.archive);
        EXPECT_EQ(Hex(t.hr), c.Extract()) << t.what;
        EXPECT_EQ(t.files, Files(c.m_strDest)) << t.what;
    }
    EXPECT_EQ(Hex(0x80070002), Hex(ExtractArchive("C:\\no-such.bin", "C:\\")));
}

// Copied in pieces across its 1,024-byte buffer, into a destination given without its trailing
// backslash. A 0x5C that is the second byte of a character is no separator; Wine keeps such
// names only when its Unix locale can hold them (ja_JP.UTF-8).
TEST(ExtractArchive, RoundTrip)
{
    const std::string kanji = "\x95\x5C";
    std::vector<std::pair<std::string, std::string>> entries = {{"setup.exe", TestBytes(2500, 3)}, {"empty.dat", ""},
        {"sub\\inner.bin", TestBytes(1024, 4)}, {"sub\\a..b.txt", "x"}};
    CArchiveCase probe("");
    const bool japanese = WriteFileBytes(probe.m_strDir + kanji + "x", "probe");
    if (japanese)
        entries.insert(entries.end(), {{"." + kanji, "1"}, {"a" + kanji, "2"}, {kanji + "\\x.txt", "3"}});
    CArchiveCase c(BuildArchive(entries));
    CreateDirectoryA((c.m_strDest + kanji).c_str(), NULL);
    EXPECT_EQ(Hex(S_OK), c.Extract(c.m_strDest.substr(0, c.m_strDest.size() - 1)));
    for (const auto& e : entries)
    {
        std::string data;
        EXPECT_TRUE(ReadFileBytes(c.m_strDest + e.first, &data) && data == e.second) << e.first;
    }
    if (!japanese)
        GTEST_SKIP() << "no code page 932 file names in this Wine prefix: the host lacks ja_JP.UTF-8";
}

// What the extraction will write, read from the archive in the resource before anything is
// written, is what it then writes: six whole files, whose entry headers lie in the scrambled
// chunks too; the same archive cut off inside its fifth file; nothing of a 207 that is no
// archive.
TEST(ArchiveExtractedSize, IsWhatTheExtractionWrites)
{
    for (WORD id : {IDR_TEST_MANY, IDR_TEST_CUT})
    {
        SCOPED_TRACE(id);
        const std::string dir = MakeTempDir("pvs");
        ASSERT_EQ(S_OK, UnpackResource(id, (dir + "archive.bin").c_str()));
        ExtractArchive((dir + "archive.bin").c_str(), dir.c_str());
        ULONGLONG written = 0;
        for (const auto& file : Files(dir))
            written += file.second.size();
        CPayloadReader archive(id);
        EXPECT_EQ(written, ArchiveExtractedSize(archive));
        EXPECT_EQ(id == IDR_TEST_MANY ? 360000u : 4 * 60000u + 250000 - (24 + 5 * 284 + 4 * 60000), written);
        RemoveTree(dir);
    }
    const HINSTANCE own = GetModuleInstance();
    HMODULE junk = LoadLibraryA((ProgramDir() + "payload_badarchive.dll").c_str());
    SetModuleInstance(junk);
    CPayloadReader notAnArchive(IDR_ARCHIVE);
    EXPECT_GT(notAnArchive.GetSize(), 0u);
    EXPECT_EQ(0u, ArchiveExtractedSize(notAnArchive));
    SetModuleInstance(own);
    FreeLibrary(junk);
}

// Drive T: is a 50 MiB tmpfs (tests/with-wine.sh), filled here to about a megabyte short, so
// that 3,500,000 bytes run out of room half-way: the unpacking of a checksummed payload, and the
// extraction, report the full disk (not a damaged payload) and leave the part they wrote; the
// payload steps, on the full drive, report short space too.
TEST(PayloadLowSpace, AFullDiskIsShortSpaceNotDamage)
{
    char drive[8];
    if (!GetEnvironmentVariableA("PIVORA_LOWSPACE_DRIVE", drive, sizeof(drive)))
        GTEST_SKIP() << "no low-space drive";
    const HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
    const std::string root = std::string(drive) + "\\", big = TestBytes(3000000, 5);
    int fillers = 0;
    while (WriteFileBytes(root + "fill" + std::to_string(fillers) + ".bin", std::string(1 << 20, 'f')))
        ++fillers;
    DeleteFileA((root + "fill0.bin").c_str());
    std::string partial;
    const HINSTANCE own = GetModuleInstance();
    HMODULE checked = LoadLibraryA((ProgramDir() + "payload_checked.dll").c_str());
    SetModuleInstance(checked);
    EXPECT_EQ(Hex(kDiskFull), Hex(UnpackResource(IDR_ARCHIVE, (root + "unpacked.bin").c_str())));
    SetModuleInstance(own);
    FreeLibrary(checked);
    EXPECT_TRUE(ReadFileBytes(root + "unpacked.bin", &partial) && partial.size() < 3500000u) << partial.size();
    EXPECT_EQ(PayloadStepNoSpace, RunInnerInstaller(root.c_str(), NULL, NULL));
    EXPECT_EQ(PayloadStepNoSpace, RunWmfDist(root.c_str(), NULL));
    for (const char* name : {"unpacked.bin", "PivoraSetup_IS.bin", "wmfdist.exe"})
        DeleteFileA((root + name).c_str());
    CArchiveCase c(BuildArchive({{"big.bin", big}}));
    EXPECT_EQ(Hex(kDiskFull), c.Extract(root));
    EXPECT_TRUE(ReadFileBytes(root + "big.bin", &partial) && partial.size() < 3000000u) << partial.size();
    EXPECT_EQ(big.substr(0, 4096), partial.substr(0, 4096));
    DeleteFileA((root + "big.bin").c_str());
    for (int i = 0; i <= fillers; ++i)
        DeleteFileA((root + "fill" + std::to_string(i) + ".bin").c_str());
}
