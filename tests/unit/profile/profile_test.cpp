#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
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
            out += std::string("{") + static_cast<const CProfileEntry*>(e->pData)->m_szKey + "=" +
                   static_cast<const CProfileEntry*>(e->pData)->m_szValue + "}";
    }
    return out;
}

static std::string Text(const CText& text)
{
    return text.GetText() ? text.GetText() : "";
}

struct CurrentDirectory
{
    char saved[MAX_PATH];
    CurrentDirectory() { GetCurrentDirectoryA(sizeof(saved), saved); }
    ~CurrentDirectory() { SetCurrentDirectoryA(saved); }
};

const char kSample[] = "orphan=1\r\n[a]\r\n k = v \r\nnovalue\r\n# comment\r\n[a]\r\nk=1\r\nk=2\r\n[]\r\n";
// kSample written back: the orphan and the comment gone; blanks, empty values and repeats kept.
const char kSaved[] = "[a]\r\n k = v \r\nnovalue=\r\n[a]\r\nk=1\r\nk=2\r\n[]\r\n";

TEST(ProfileDoc, ParsesLines)
{
    const struct { std::string content, dump; } files[] = {
        // Keys before a section, comments and the lines after a broken header are dropped.
        // Leading "=" are skipped, a value ends at its next "=", a line without "=" is a key
        // without value.
        {"orphan=1\r\n; comment before\r\n[first]\r\nkey=value\r\n# comment\r\n; comment\r\n"
         " spaced key = spaced value \r\na=b=c\r\n==x==y\r\nnoequals\r\n=onlyvalue\r\nkey=\r\n"
         "===\r\n\r\n[broken] ; comment\r\nlost=1\r\n[second]\r\nkey=dup\r\nkey=dup2\r\n"
         "[first]\r\nx=1\r\n[]\r\nk=[v]\r\ntail=has no line end",
         "[first]{key=value}{ spaced key = spaced value }{a=b}{x=y}{noequals=}{onlyvalue=}{key=}"
         "[second]{key=dup}{key=dup2}[first]{x=1}[]{k=[v]}"},
        // A lone CR ends a line too; a line of more than 254 characters is read as several.
        {"[s]\rk=v\r\nlong=" + std::string(300, 'x') + "\r\nend=1\r\n",
         "[s]{k=v}{long=" + std::string(249, 'x') + "}{" + std::string(51, 'x') + "=}{end=1}"},
        // A header's closing bracket must be a character of its own: in "‐" (0x81 0x5D) the
        // byte 0x5D is the second half of a double-byte character.
        {Sjis(u8"[設定‐\r\nk=v\r\n[名前]\r\nキー=値\r\n"), Sjis(u8"[名前]{キー=値}")},
        // A file whose only line has no line end gives nothing; so does an empty one.
        {"[s]", ""},
        {"", ""},
    };
    std::string folder = MakeTempDir("prf"), path = folder + "test.ini";
    CProfileDoc doc;
    for (const auto& file : files)
    {
        ASSERT_TRUE(WriteFileBytes(path, file.content));
        EXPECT_EQ(S_OK, doc.Load(path.c_str(), TRUE, kProfileFolderAsGiven)) << file.content;
        EXPECT_EQ(file.dump, Dump(doc)) << file.content;
    }

    // A missing file: the open's code and an empty document, the name and flag kept all the same.
    std::string missing = folder + "missing.ini";
    EXPECT_EQ(HRESULT(0x80070002), doc.Load(missing.c_str(), FALSE, kProfileFolderWindows));
    EXPECT_EQ("", Dump(doc));
    EXPECT_EQ(missing, Text(doc.m_strPath));
    EXPECT_EQ(HRESULT(0x80070003), doc.Load((folder + "no\\such.ini").c_str(), TRUE, 5));
    EXPECT_EQ(E_INVALIDARG, doc.Load(NULL, TRUE, 5));
    RemoveTree(folder);
}

TEST(ProfileDoc, ResolvesFolderTypes)
{
    CurrentDirectory restore;
    std::string name = "pivora_profile_" + std::to_string(GetCurrentProcessId()) + ".ini";
    char windows[MAX_PATH], system[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    GetSystemDirectoryA(system, sizeof(system));
    std::string current = MakeTempDir("prfcwd"), full = MakeTempDir("prfabs") + name;
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    // Type 5 and unknown types use the name as given, found through the current directory; a
    // name with a drive, or a rooted one, is used as given whatever the type. The file lies
    // only where it is expected.
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
            EXPECT_EQ(c.given, Text(doc.m_strPath)) << type;
            EXPECT_EQ(0, lstrcmpiA(c.resolved.c_str(), Text(doc.m_strLoadedFrom).c_str()))
                << type << ": " << Text(doc.m_strLoadedFrom);
        }
        DeleteFileA(c.file.c_str());
    }
    SetCurrentDirectoryA(restore.saved);
    RemoveTree(current);
    RemoveTree(full.substr(0, full.size() - name.size()));
}

// Nothing in the run changes a document; the one it loads must never be written back.
TEST(ProfileDoc, SavesOnlyWhatChanged)
{
    std::string folder = MakeTempDir("prf"), content;
    std::string source = folder + "source.ini", target = folder + "target.ini";
    ASSERT_TRUE(WriteFileBytes(source, kSample));
    {
        // Freshly loaded for writing: nothing to save, and destroying it writes nothing.
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), FALSE, kProfileFolderAsGiven));
        EXPECT_EQ(S_FALSE, doc.Save(target.c_str()));
    }
    EXPECT_FALSE(FileExists(target));
    ASSERT_TRUE(ReadFileBytes(source, &content));
    EXPECT_EQ(kSample, content);
    {
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), TRUE, kProfileFolderAsGiven));
        doc.m_bModified = TRUE;
        EXPECT_EQ(E_FAIL, doc.Save(NULL));                  // read-only: never back to its file
        EXPECT_EQ(S_OK, doc.Save(target.c_str()));          // an explicit path is allowed
        EXPECT_EQ(FALSE, doc.m_bModified);
        ASSERT_TRUE(ReadFileBytes(target, &content));
        EXPECT_EQ(kSaved, content);
    }
    ASSERT_TRUE(ReadFileBytes(source, &content));
    EXPECT_EQ(kSample, content);
    RemoveTree(folder);
}
