#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "common/TestSupport.h"
#include "profile/ProfileDoc.h"

namespace
{

// The document as one line: [section]{key=value}..., so that blanks and empty parts show.
std::string Dump(const CProfileDoc& doc)
{
    std::string out;
    for (CNode* node = doc.m_Sections.GetHeadNode(); node; node = node->pNext)
    {
        const CProfileSection* section = static_cast<const CProfileSection*>(node->pData);
        out += std::string("[") + section->m_szName + "]";
        for (CNode* e = section->m_Entries.GetHeadNode(); e; e = e->pNext)
        {
            const CProfileEntry* entry = static_cast<const CProfileEntry*>(e->pData);
            out += std::string("{") + entry->m_szKey + "=" + entry->m_szValue + "}";
        }
    }
    return out;
}

std::string Text(const CText& text)
{
    return text.GetText() ? text.GetText() : "";
}

// Loads content written to a fresh file by its full path.
HRESULT LoadContent(CProfileDoc* doc, const std::string& content)
{
    std::string folder = MakeTempDir("prf");
    std::string path = folder + "test.ini";
    EXPECT_TRUE(WriteFileBytes(path, content));
    HRESULT hr = doc->Load(path.c_str(), TRUE, kProfileFolderAsGiven);
    RemoveTree(folder);
    return hr;
}

struct CurrentDirectory
{
    char saved[MAX_PATH];
    CurrentDirectory() { GetCurrentDirectoryA(sizeof(saved), saved); }
    ~CurrentDirectory() { SetCurrentDirectoryA(saved); }
};

const char kSample[] =
    "orphan=before any section\r\n"
    "[first]\r\n"
    "key=value\r\n"
    "# hash comment\r\n"
    "; semicolon comment\r\n";

} // namespace

TEST(ProfileDoc, ParsesLines)
{
    CProfileDoc doc;
    EXPECT_EQ(S_OK, LoadContent(&doc,
                                "orphan=1\r\n"
                                "; comment before\r\n"
                                "[first]\r\n"
                                "key=value\r\n"
                                "# comment\r\n"
                                "; comment\r\n"
                                " spaced key = spaced value \r\n"
                                "a=b=c\r\n"
                                "==x==y\r\n"
                                "noequals\r\n"
                                "=onlyvalue\r\n"
                                "key=\r\n"
                                "===\r\n"
                                "\r\n"
                                "[broken] ; comment\r\n"
                                "lost=1\r\n"
                                "[second]\r\n"
                                "key=dup\r\n"
                                "key=dup2\r\n"
                                "[first]\r\n"
                                "x=1\r\n"
                                "[]\r\n"
                                "k=[v]\r\n"
                                "tail=has no line end"));
    EXPECT_EQ("[first]{key=value}{ spaced key = spaced value }{a=b}{x=y}{noequals=}"
              "{onlyvalue=}{key=}"
              "[second]{key=dup}{key=dup2}[first]{x=1}[]{k=[v]}",
              Dump(doc));

    // A lone CR ends a line too; a line of more than 254 characters is read as several.
    EXPECT_EQ(S_OK, LoadContent(&doc, "[s]\rk=v\r\nlong=" + std::string(300, 'x') + "\r\nend=1\r\n"));
    EXPECT_EQ("[s]{k=v}{long=" + std::string(249, 'x') + "}{" + std::string(51, 'x') + "=}{end=1}",
              Dump(doc));

    // A header's closing bracket must be a character of its own: in "‐" (0x81 0x5D) the byte
    // 0x5D is the second half of a double-byte character.
    std::string hyphen = Sjis(u8"‐");
    ASSERT_EQ(std::string("\x81\x5D"), hyphen);
    EXPECT_EQ(S_OK, LoadContent(&doc, "[" + Sjis(u8"設定") + hyphen + "\r\nk=v\r\n[" +
                                          Sjis(u8"名前") + "]\r\n" + Sjis(u8"キー=値") + "\r\n"));
    EXPECT_EQ("[" + Sjis(u8"名前") + "]{" + Sjis(u8"キー=値") + "}", Dump(doc));

    // A file whose only line has no line end gives nothing; so does an empty one.
    EXPECT_EQ(S_OK, LoadContent(&doc, "[s]"));
    EXPECT_EQ(0, doc.m_Sections.GetCount());
    EXPECT_EQ(S_OK, LoadContent(&doc, ""));
    EXPECT_EQ(0, doc.m_Sections.GetCount());
}

TEST(ProfileDoc, LoadResultsAndFlags)
{
    CProfileDoc doc;
    EXPECT_EQ(0, doc.m_Sections.GetCount());
    EXPECT_EQ(FALSE, doc.m_bReadOnly);
    EXPECT_EQ(FALSE, doc.m_bModified);
    EXPECT_EQ("", Text(doc.m_strPath));

    EXPECT_EQ(S_OK, LoadContent(&doc, kSample));
    EXPECT_EQ("[first]{key=value}", Dump(doc));
    EXPECT_EQ(TRUE, doc.m_bReadOnly);

    // A missing file: the open's code, an empty document, the name and flag kept all the same.
    std::string folder = MakeTempDir("prf");
    std::string missing = folder + "missing.ini";
    EXPECT_EQ(HRESULT(0x80070002), doc.Load(missing.c_str(), FALSE, kProfileFolderWindows));
    EXPECT_EQ("", Dump(doc));
    EXPECT_EQ(missing, Text(doc.m_strPath));
    EXPECT_EQ(FALSE, doc.m_bReadOnly);
    EXPECT_EQ(HRESULT(0x80070003), doc.Load((folder + "no\\such.ini").c_str(), TRUE, 5));
    EXPECT_EQ(E_INVALIDARG, doc.Load(NULL, TRUE, 5));

    doc.m_bModified = TRUE;
    doc.m_bReadOnly = TRUE;
    doc.ResetFlags();
    EXPECT_EQ(FALSE, doc.m_bReadOnly);
    EXPECT_EQ(FALSE, doc.m_bModified);
    RemoveTree(folder);
}

TEST(ProfileDoc, ResolvesFolderTypes)
{
    CurrentDirectory restore;
    std::string name = "pivora_profile_" + std::to_string(GetCurrentProcessId()) + ".ini";
    struct Place
    {
        int type;
        std::string folder;
    };
    char windows[MAX_PATH], system[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    GetSystemDirectoryA(system, sizeof(system));
    std::string current = MakeTempDir("prfcwd");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    Place places[] = {
        {kProfileFolderModule, TestsDir()},
        {kProfileFolderCurrent, current},
        {kProfileFolderWindows, std::string(windows) + "\\"},
        {kProfileFolderSystem, std::string(system) + "\\"},
    };

    for (const Place& place : places)
    {
        std::string path = place.folder + name;
        ASSERT_TRUE(WriteFileBytes(path, "[type]\r\nn=" + std::to_string(place.type) + "\r\n")) << path;
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(name.c_str(), TRUE, place.type)) << place.type;
        EXPECT_EQ("[type]{n=" + std::to_string(place.type) + "}", Dump(doc)) << place.type;
        EXPECT_EQ(name, Text(doc.m_strPath));
        EXPECT_EQ(0, lstrcmpiA(path.c_str(), Text(doc.m_strLoadedFrom).c_str()))
            << place.type << ": " << Text(doc.m_strLoadedFrom);
        DeleteFileA(path.c_str());
        // Only that folder: the same name is not found through it once the file is gone.
        EXPECT_EQ(HRESULT(0x80070002), doc.Load(name.c_str(), TRUE, place.type)) << place.type;
    }

    // Type 5 and unknown types use the name as given, found through the current directory.
    ASSERT_TRUE(WriteFileBytes(current + name, "[cwd]\r\n"));
    for (int type : {5, 0, 6, -1})
    {
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(name.c_str(), TRUE, type)) << type;
        EXPECT_EQ("[cwd]", Dump(doc)) << type;
        EXPECT_EQ(name, Text(doc.m_strLoadedFrom)) << type;
    }

    // A name with a drive, and a rooted name, are used as given whatever the type.
    std::string elsewhere = MakeTempDir("prfabs");
    ASSERT_TRUE(WriteFileBytes(elsewhere + name, "[given]\r\n"));
    std::string full = elsewhere + name;
    ASSERT_EQ(':', full[1]);
    std::string rooted = full.substr(2);
    for (int type : {1, 2, 3, 4, 5})
    {
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(full.c_str(), TRUE, type)) << type;
        EXPECT_EQ("[given]", Dump(doc)) << type;
        EXPECT_EQ(S_OK, doc.Load(rooted.c_str(), TRUE, type)) << type;
        EXPECT_EQ("[given]", Dump(doc)) << type;
    }
    SetCurrentDirectoryA(restore.saved);
    RemoveTree(current);
    RemoveTree(elsewhere);
}

TEST(ProfileDoc, SavesOnlyWhatChanged)
{
    std::string folder = MakeTempDir("prf");
    std::string source = folder + "source.ini";
    std::string target = folder + "target.ini";
    ASSERT_TRUE(WriteFileBytes(source, kSample));

    {
        // Freshly loaded: nothing to save, and destroying it writes nothing.
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), FALSE, kProfileFolderAsGiven));
        EXPECT_EQ(S_FALSE, doc.Save(target.c_str()));
        EXPECT_EQ(S_FALSE, doc.Save(NULL));
        EXPECT_EQ(S_FALSE, doc.Flush());
        EXPECT_FALSE(FileExists(target));
    }
    std::string content;
    ASSERT_TRUE(ReadFileBytes(source, &content));
    EXPECT_EQ(kSample, content);

    {
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), TRUE, kProfileFolderAsGiven));
        doc.m_bModified = TRUE;
        EXPECT_EQ(E_FAIL, doc.Save(NULL));             // read-only: never back to its file
        EXPECT_EQ(HRESULT(0x80070003), doc.Save((folder + "no\\such.ini").c_str()));
        EXPECT_EQ(TRUE, doc.m_bModified);
        EXPECT_EQ(S_OK, doc.Save(target.c_str()));    // an explicit path is allowed
        EXPECT_EQ(FALSE, doc.m_bModified);
        ASSERT_TRUE(ReadFileBytes(target, &content));
        EXPECT_EQ("[first]\r\nkey=value\r\n", content);
        EXPECT_EQ(S_FALSE, doc.Save(target.c_str()));

        // Without sections there is nothing to write.
        EXPECT_EQ(HRESULT(0x80070002), doc.Load((folder + "none.ini").c_str(), FALSE, 5));
        doc.m_bModified = TRUE;
        EXPECT_EQ(E_FAIL, doc.Save((folder + "empty.ini").c_str()));
        EXPECT_FALSE(FileExists(folder + "empty.ini"));
        doc.m_bModified = FALSE;
    }

    // Written documents read back the same; blanks, empty values and repeats are kept.
    ASSERT_TRUE(WriteFileBytes(source, "[a]\r\n k = v \r\nnovalue\r\n[a]\r\nk=1\r\nk=2\r\n[]\r\n"));
    {
        CProfileDoc doc;
        EXPECT_EQ(S_OK, doc.Load(source.c_str(), TRUE, 5));
        doc.m_bModified = TRUE;
        EXPECT_EQ(S_OK, doc.Save(target.c_str()));
        ASSERT_TRUE(ReadFileBytes(target, &content));
        EXPECT_EQ("[a]\r\n k = v \r\nnovalue=\r\n[a]\r\nk=1\r\nk=2\r\n[]\r\n", content);
        CProfileDoc again;
        EXPECT_EQ(S_OK, again.Load(target.c_str(), TRUE, 5));
        EXPECT_EQ(Dump(doc), Dump(again));
    }

    // A document loaded for writing goes back to the file it came from, wherever the current
    // directory has moved since; destroying a changed document does that too.
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
    EXPECT_EQ("[first]\r\nkey=value\r\n", content);

    SetCurrentDirectoryA(restore.saved);
    RemoveTree(other);
    RemoveTree(folder);
}
