#include <gtest/gtest.h>
#include "common/TestSupport.h"
#include "profile/ProfileDoc.h"

// The document as one line: [section]{key=value}..., so that blanks and empty parts show.
static std::string Dump(const CProfileDoc& doc)
{
    std::string out;
    for (CNode* node = doc.m_Sections.GetHeadNode(); node; node = node->pNext)
    {
        const CProfileSection* section = static_cast<const CProfileSection*>(node->pData);
        out += std::string("[") + section->m_szName + "]";
        for (CNode* e = section->m_Entries.GetHeadNode(); e; e = e->pNext)
            out += "{" + std::string(((CProfileEntry*)e->pData)->m_szKey) + "=" + ((CProfileEntry*)e->pData)->m_szValue + "}";
    }
    return out;
}

const char kSample[] = "orphan=1\r\n[a]\r\n k = v \r\nnovalue\r\n# comment\r\n[a]\r\nk=1\r\nk=2\r\n[]\r\n";
// kSample written back: the orphan and the comment gone; blanks, empty values and repeats kept.
const char kSaved[] = "[a]\r\n k = v \r\nnovalue=\r\n[a]\r\nk=1\r\nk=2\r\n[]\r\n";

TEST(ProfileDoc, ParsesLines)
{
    const struct { std::string content, dump; } files[] = {
        // Keys before a section, comments and the lines after a broken header are dropped.
        // Leading "=" are skipped, a value ends at its next "=", a line without "=" is a key
        // without value.
        {"orphan=1\r\n; comment before\r\n[first]\r\nkey=value\r\n# comment\r\n; comment\r\n spaced key = spaced"
         " value \r\na=b=c\r\n==x==y\r\nnoequals\r\n=onlyvalue\r\nkey=\r\n===\r\n\r\n[broken] ; comment\r\nlost=1\r\n"
         "[second]\r\nkey=dup\r\nkey=dup2\r\n[first]\r\nx=1\r\n[]\r\nk=[v]\r\ntail=has no line end",
         "[first]{key=value}{ spaced key = spaced value }{a=b}{x=y}{noequals=}{onlyvalue=}{key=}"
         "[second]{key=dup}{key=dup2}[first]{x=1}[]{k=[v]}"},
        // A lone CR ends a line too; a line of more than 254 characters is read as several.
        {"[s]\rk=v\r\nlong=" + std::string(300, 'x') + "\r\nend=1\r\n",
         "[s]{k=v}{long=" + std::string(249, 'x') + "}{" + std::string(51, 'x') + "=}{end=1}"},
        // A header's closing bracket must be a character of its own: in "‐" (0x81 0x5D) the
        // byte 0x5D is the second half of a double-byte character.
        {Sjis(u8"[設定‐\r\nk=v\r\n[名前]\r\nキー=値\r\n"), Sjis(u8"[名前]{キー=値}")},
        {"", ""},
    };
    std::string folder = MakeTempDir("prf"), path = folder + "test.ini", missing = folder + "missing.ini";
    CProfileDoc doc;
    for (const auto& file : files)
    {
        ASSERT_TRUE(WriteFileBytes(path, file.content));
        EXPECT_EQ(S_OK, doc.Load(path.c_str(), TRUE, kProfileFolderAsGiven)) << file.content;
        EXPECT_EQ(file.dump, Dump(doc)) << file.content;
    }

    // A missing file: the open's code and an empty document, the name and flag kept all the same.
    EXPECT_EQ(HRESULT(0x80070002), doc.Load(missing.c_str(), FALSE, kProfileFolderWindows));
    EXPECT_EQ("", Dump(doc));
    EXPECT_STREQ(missing.c_str(), doc.m_strPath.GetText());
    EXPECT_EQ(E_INVALIDARG, doc.Load(NULL, TRUE, 5));
    RemoveTree(folder);
}

TEST(ProfileDoc, ResolvesFolderTypes)
{
    char saved[MAX_PATH], windows[MAX_PATH], system[MAX_PATH];
    GetCurrentDirectoryA(sizeof(saved), saved);
    std::string name = "pivora_profile_" + std::to_string(GetCurrentProcessId()) + ".ini";
    GetWindowsDirectoryA(windows, sizeof(windows));
    GetSystemDirectoryA(system, sizeof(system));
    std::string current = MakeTempDir("prfcwd"), full = MakeTempDir("prfabs") + name;
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    // Type 5 and unknown types use the name as given, found through the current directory; a
    // name with a drive, or a rooted one, is used as given whatever the type. The file lies
    // only where it is expected. The system folder's name is system32 in either flavour; for the
    // 32-bit program on 64-bit Windows its files lie in SysWOW64, where its reads go as well.
    const struct { std::string given; std::vector<int> types; std::string file, resolved; } cases[] = {
        {name, {kProfileFolderModule}, ProgramDir() + name, ProgramDir() + name},
        {name, {kProfileFolderCurrent}, current + name, current + name},
        {name, {kProfileFolderWindows}, std::string(windows) + "\\" + name, std::string(windows) + "\\" + name},
        {name, {kProfileFolderSystem}, std::string(system) + "\\" + name, std::string(system) + "\\" + name},
        {name, {5, 0, 6, -1}, current + name, name},
        {full, {1, 2, 3, 4, 5}, full, full},
        {full.substr(2), {1, 2, 3, 4, 5}, full, full.substr(2)}};
    for (const auto& c : cases)
    {
        ASSERT_TRUE(WriteFileBytes(c.file, "")) << c.file;
        for (int type : c.types)
        {
            CProfileDoc doc;
            EXPECT_EQ(S_OK, doc.Load(c.given.c_str(), TRUE, type)) << type << " " << c.given;
            EXPECT_STREQ(c.given.c_str(), doc.m_strPath.GetText()) << type;
            EXPECT_STRCASEEQ(c.resolved.c_str(), doc.m_strLoadedFrom.GetText()) << type;
        }
        DeleteFileA(c.file.c_str());
    }
    SetCurrentDirectoryA(saved);
    RemoveTree(current);
    RemoveTree(full.substr(0, full.size() - name.size()));
}

// Nothing in the run changes a document; the one it loads must never be written back.
TEST(ProfileDoc, SavesOnlyWhatChanged)
{
    std::string folder = MakeTempDir("prf"), source = folder + "source.ini", target = folder + "target.ini";
    ASSERT_TRUE(WriteFileBytes(source, kSample));
    {
        // Freshly loaded for writing: nothing to save, and destroying it writes nothing.
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), FALSE, kProfileFolderAsGiven));
        EXPECT_EQ(S_FALSE, doc.Save(target.c_str()));
    }
    EXPECT_FALSE(FileExists(target));
    CProfileDoc doc;
    EXPECT_EQ(S_OK, doc.Load(source.c_str(), TRUE, kProfileFolderAsGiven));
    doc.m_bModified = TRUE;
    EXPECT_EQ(E_FAIL, doc.Save(NULL));                  // read-only: never back to its file
    EXPECT_EQ(S_OK, doc.Save(target.c_str()));          // an explicit path is allowed
    EXPECT_EQ(FALSE, doc.m_bModified);
    std::string written, kept;
    ASSERT_TRUE(ReadFileBytes(target, &written) && ReadFileBytes(source, &kept));
    EXPECT_EQ(kSaved, written);
    EXPECT_EQ(kSample, kept);
    RemoveTree(folder);
}
