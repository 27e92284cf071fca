// CFileObject on real files: result codes, the not-open answer, and the line reader's handling
// of CR, CR LF, lone LF, NUL, the size limit and the end of the file.
#include <gtest/gtest.h>
#include "base/FileObject.h"
#include "common/TestSupport.h"
#include <string>
#include <vector>

TEST(FileObject, NotOpenAndMissing)
{
    CFileObject file;
    EXPECT_FALSE(file.IsOpen());
    char szBuffer[8] = "keep";
    DWORD dwCount = 77;
    LONGLONG pos = 55;
    EXPECT_EQ(1, file.Close());
    EXPECT_EQ(1, file.Read(szBuffer, 4, &dwCount));
    EXPECT_EQ(1, file.Write("x", 1, &dwCount));
    EXPECT_EQ(1, file.WriteText("x"));
    EXPECT_EQ(1, file.WriteFormatted("%d", 1));
    EXPECT_EQ(1, file.Seek(0, &pos, FILE_BEGIN));
    EXPECT_EQ(1, file.ReadLine(szBuffer, sizeof(szBuffer), &dwCount));
    EXPECT_STREQ("keep", szBuffer);
    EXPECT_EQ(77u, dwCount);
    EXPECT_EQ(55, pos);
    EXPECT_EQ(S_OK, file.Clear());

    std::string dir = MakeTempDir("pvbase"), missing = dir + "missing.txt";
    EXPECT_EQ((HRESULT)0x80070002, file.Open(missing.c_str(), OPEN_EXISTING, GENERIC_READ,
                                             FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, NULL));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(missing, std::string(file.m_strName.GetText()));
    EXPECT_EQ(1, file.Close());
    RemoveTree(dir);
}

TEST(FileObject, WriteReadSeek)
{
    std::string dir = MakeTempDir("pvbase");
    std::string path = dir + "out.txt";
    {
        CFileObject file;
        ASSERT_EQ(S_OK, file.Open(path.c_str(), CREATE_ALWAYS, GENERIC_WRITE, 0,
                                  FILE_ATTRIBUTE_NORMAL, NULL));
        DWORD dwWritten = 0;
        EXPECT_EQ(S_OK, file.Write("abc", 3, &dwWritten));
        EXPECT_EQ(3u, dwWritten);
        EXPECT_EQ(S_OK, file.WriteText("\r\nline"));
        EXPECT_EQ(S_OK, file.WriteFormatted("[%d|%s]", 42, "x"));
        EXPECT_EQ(6u, file.m_dwWritten);                    // the count of the last write
        char c;
        EXPECT_EQ((HRESULT)0x80070005, file.Read(&c, 1));
        // The destructor closes the handle: share mode 0 would refuse the open below.
    }
    std::string data;
    ASSERT_TRUE(ReadFileBytes(path, &data));
    EXPECT_EQ("abc\r\nline[42|x]", data);

    CFileObject file;
    ASSERT_EQ(S_OK, file.Open(path.c_str(), OPEN_EXISTING, GENERIC_READ, 0, FILE_ATTRIBUTE_NORMAL, NULL));
    EXPECT_EQ((HRESULT)0x80070005, file.WriteText("no"));
    char szBuffer[32] = {0};
    DWORD dwRead = 0;
    EXPECT_EQ(S_OK, file.Read(szBuffer, 4, &dwRead));
    EXPECT_EQ(4u, file.m_dwRead);
    EXPECT_EQ(S_OK, file.Read(szBuffer, sizeof(szBuffer), &dwRead));
    EXPECT_EQ(11u, dwRead);
    EXPECT_EQ(HR_END_OF_FILE, file.Read(szBuffer, sizeof(szBuffer), &dwRead));
    EXPECT_EQ(0u, dwRead);
    EXPECT_EQ(S_OK, file.Read(szBuffer, 0, &dwRead));

    LONGLONG pos = 0;
    EXPECT_EQ(S_OK, file.Seek(-3, &pos, FILE_END));
    EXPECT_EQ(12, pos);
    EXPECT_EQ(S_OK, file.Seek(2, NULL, FILE_BEGIN));
    EXPECT_EQ(S_OK, file.Read(szBuffer, 1));
    EXPECT_EQ('c', szBuffer[0]);
    EXPECT_EQ((HRESULT)0x80070083, file.Seek(-10, &pos, FILE_BEGIN));

    EXPECT_EQ(S_OK, file.Close());
    EXPECT_EQ(1, file.Close());
    EXPECT_EQ(S_OK, file.Clear());
    EXPECT_EQ(0u, file.m_dwRead);
    EXPECT_EQ(0, file.m_strName.GetLength());
    RemoveTree(dir);
}

TEST(FileObject, ReadLine)
{
    // Each call: the buffer size, the result and the line. A CR ends a line and takes a following
    // LF along; a lone LF does not end one; a NUL ends one too. Size 1 stores and consumes nothing.
    struct Call { int nSize; HRESULT hr; std::string line; };
    const struct { std::string data; std::vector<Call> calls; } cases[] = {
        {"ab\r\ncd", {{255, S_OK, "ab"}, {255, HR_END_OF_FILE, "cd"}}},
        {"ab\rcd\r\n", {{255, S_OK, "ab"}, {255, S_OK, "cd"}, {255, HR_END_OF_FILE, ""}}},
        {"a\nb\nc\n", {{255, HR_END_OF_FILE, "a\nb\nc\n"}}},
        {std::string("ab\0cd\r", 6), {{255, S_OK, "ab"}, {255, S_OK, "cd"}, {255, HR_END_OF_FILE, ""}}},
        {std::string(300, 'x') + "\r\nnext",
         {{255, S_OK, std::string(254, 'x')}, {255, S_OK, std::string(46, 'x')}, {1, S_OK, ""},
          {0, E_INVALIDARG, "untouched"}, {255, HR_END_OF_FILE, "next"}}},
    };
    std::string dir = MakeTempDir("pvbase");
    for (const auto& c : cases)
    {
        ASSERT_TRUE(WriteFileBytes(dir + "lines.txt", c.data));
        CFileObject file;
        ASSERT_EQ(S_OK, file.Open((dir + "lines.txt").c_str(), OPEN_EXISTING, GENERIC_READ,
                                  FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, NULL));
        for (const Call& call : c.calls)
        {
            char szLine[255] = "untouched";
            DWORD dwCount = 99;
            EXPECT_EQ(call.hr, file.ReadLine(szLine, call.nSize, &dwCount)) << c.data.substr(0, 8);
            EXPECT_EQ(call.line, std::string(szLine)) << c.data.substr(0, 8);
            if (call.hr != E_INVALIDARG)
            {
                EXPECT_EQ(call.line.size(), dwCount) << c.data.substr(0, 8);
            }
        }
    }
    RemoveTree(dir);
}
