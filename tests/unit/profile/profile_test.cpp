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

// Loads content written to a fresh file by its full path, read-only.
static HRESULT LoadContent(CProfileDoc* doc, const std::string& content)
{
    std::string folder = MakeTempDir("prf");
    EXPECT_TRUE(WriteFileBytes(folder + "test.ini", content));
    HRESULT hr = doc->Load((folder + "test.ini").c_str(), TRUE, kProfileFolderAsGiven);
    RemoveTree(folder);
    return hr;
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
    CProfileDoc doc;
    // Keys before a section, comments and the lines after a broken header are dropped. Leading
    // "=" are skipped, a value ends at its next "=", a line without "=" is a key without value.
    EXPECT_EQ(S_OK, LoadContent(&doc, "orphan=1\r\n; comment before\r\n[first]\r\nkey=value\r\n"
                                      "# comment\r\n; comment\r\n spaced key = spaced value \r\n"
                                      "a=b=c\r\n==x==y\r\nnoequals\r\n=onlyvalue\r\nkey=\r\n===\r\n\r\n"
                                      "[broken] ; comment\r\nlost=1\r\n[second]\r\nkey=dup\r\n"
                                      "key=dup2\r\n[first]\r\nx=1\r\n[]\r\nk=[v]\r\n"
                                      "tail=has no line end"));
    EXPECT_EQ("[first]{key=value}{ spaced key = spaced value }{a=b}{x=y}{noequals=}{onlyvalue=}{key=}"
              "[second]{key=dup}{key=dup2}[first]{x=1}[]{k=[v]}",
              Dump(doc));
    EXPECT_EQ(TRUE, doc.m_bReadOnly);

    // A lone CR ends a line too; a line of more than 254 characters is read as several.
    EXPECT_EQ(S_OK, LoadContent(&doc, "[s]\rk=v\r\nlong=" + std::string(300, 'x') + "\r\nend=1\r\n"));
    EXPECT_EQ("[s]{k=v}{long=" + std::string(249, 'x') + "}{" + std::string(51, 'x') + "=}{end=1}",
              Dump(doc));

    // A header's closing bracket must be a character of its own: in "‐" (0x81 0x5D) the byte
    // 0x5D is the second half of a double-byte character.
    ASSERT_EQ(std::string("\x81\x5D"), Sjis(u8"‐"));
    EXPECT_EQ(S_OK, LoadContent(&doc, Sjis(u8"[設定‐\r\nk=v\r\n[名前]\r\nキー=値\r\n")));
    EXPECT_EQ(Sjis(u8"[名前]{キー=値}"), Dump(doc));

    // A file whose only line has no line end gives nothing; so does an empty one.
    for (const char* content : {"[s]", ""})
    {
        EXPECT_EQ(S_OK, LoadContent(&doc, content));
        EXPECT_EQ("", Dump(doc)) << content;
    }

    // A missing file: the open's code and an empty document, the name and flag kept all the same.
    std::string folder = MakeTempDir("prf"), missing = folder + "missing.ini";
    EXPECT_EQ(HRESULT(0x80070002), doc.Load(missing.c_str(), FALSE, kProfileFolderWindows));
    EXPECT_EQ("", Dump(doc));
    EXPECT_EQ(missing, Text(doc.m_strPath));
    EXPECT_EQ(FALSE, doc.m_bReadOnly);
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
    std::string current = MakeTempDir("prfcwd"), elsewhere = MakeTempDir("prfabs");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    const std::pair<int, std::string> places[] = {
        {kProfileFolderModule, ProgramDir()}, {kProfileFolderCurrent, current},
        {kProfileFolderWindows, std::string(windows) + "\\"},
        {kProfileFolderSystem, std::string(system) + "\\"}};
    for (const auto& place : places)
    {
        std::string path = place.second + name, n = std::to_string(place.first);
        ASSERT_TRUE(WriteFileBytes(path, "[type]\r\nn=" + n + "\r\n")) << path;
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(name.c_str(), TRUE, place.first)) << n;
        EXPECT_EQ("[type]{n=" + n + "}", Dump(doc));
        EXPECT_EQ(name, Text(doc.m_strPath));
        EXPECT_EQ(0, lstrcmpiA(path.c_str(), Text(doc.m_strLoadedFrom).c_str()))
            << n << ": " << Text(doc.m_strLoadedFrom);
        DeleteFileA(path.c_str());
        // Only that folder: once the file is gone, the name is not found through another.
        EXPECT_EQ(HRESULT(0x80070002), doc.Load(name.c_str(), TRUE, place.first)) << n;
    }

    // Type 5 and unknown types use the name as given, found through the current directory; a
    // name with a drive, or a rooted one, is used as given whatever the type.
    std::string full = elsewhere + name;
    ASSERT_TRUE(WriteFileBytes(current + name, "[cwd]\r\n"));
    ASSERT_TRUE(WriteFileBytes(full, "[given]\r\n"));
    const struct { std::string given; std::vector<int> types; const char* dump; } asGiven[] = {
        {name, {5, 0, 6, -1}, "[cwd]"}, {full, {1, 2, 3, 4, 5}, "[given]"},
        {full.substr(2), {1, 2, 3, 4, 5}, "[given]"}};
    for (const auto& g : asGiven)
    {
        for (int type : g.types)
        {
            CProfileDoc doc;
            EXPECT_EQ(S_OK, doc.Load(g.given.c_str(), TRUE, type)) << type << " " << g.given;
            EXPECT_EQ(g.dump, Dump(doc)) << type << " " << g.given;
            EXPECT_EQ(g.given, Text(doc.m_strLoadedFrom)) << type;
        }
    }
    SetCurrentDirectoryA(restore.saved);
    RemoveTree(current);
    RemoveTree(elsewhere);
}

TEST(ProfileDoc, SavesOnlyWhatChanged)
{
    std::string folder = MakeTempDir("prf"), content;
    std::string source = folder + "source.ini", target = folder + "target.ini";
    ASSERT_TRUE(WriteFileBytes(source, kSample));
    {
        // Freshly loaded: nothing to save, and destroying it writes nothing.
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), FALSE, kProfileFolderAsGiven));
        EXPECT_EQ(S_FALSE, doc.Save(target.c_str()));
        EXPECT_EQ(S_FALSE, doc.Flush());
    }
    EXPECT_FALSE(FileExists(target));
    ASSERT_TRUE(ReadFileBytes(source, &content));
    EXPECT_EQ(kSample, content);

    {
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), TRUE, kProfileFolderAsGiven));
        doc.m_bModified = TRUE;
        EXPECT_EQ(E_FAIL, doc.Save(NULL));                  // read-only: never back to its file
        EXPECT_EQ(HRESULT(0x80070003), doc.Save((folder + "no\\such.ini").c_str()));
        EXPECT_EQ(TRUE, doc.m_bModified);
        EXPECT_EQ(S_OK, doc.Save(target.c_str()));          // an explicit path is allowed
        EXPECT_EQ(FALSE, doc.m_bModified);
        ASSERT_TRUE(ReadFileBytes(target, &content));
        EXPECT_EQ(kSaved, content);

        // Without sections there is nothing to write.
        EXPECT_EQ(HRESULT(0x80070002), doc.Load((folder + "none.ini").c_str(), TRUE, 5));
        doc.m_bModified = TRUE;
        EXPECT_EQ(E_FAIL, doc.Save((folder + "empty.ini").c_str()));
        EXPECT_FALSE(FileExists(folder + "empty.ini"));
    }

    // A changed document loaded for writing goes back, when destroyed, to the file it came from,
    // wherever the current directory has moved since.
    CurrentDirectory restore;
    std::string other = MakeTempDir("prfother");
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    ASSERT_TRUE(WriteFileBytes(source, kSample));
    {
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load("source.ini", FALSE, kProfileFolderCurrent));
        ASSERT_TRUE(SetCurrentDirectoryA(other.c_str()));
        doc.m_bModified = TRUE;
    }
    EXPECT_FALSE(FileExists(other + "source.ini"));
    ASSERT_TRUE(ReadFileBytes(source, &content));
    EXPECT_EQ(kSaved, content);
    SetCurrentDirectoryA(restore.saved);
    RemoveTree(other);
    RemoveTree(folder);
}
