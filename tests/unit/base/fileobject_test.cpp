// CFileObject on real files: result codes, the not-open answer, and the line reader's handling
// of CR, CR LF, lone LF, NUL, the size limit and the end of the file.
#include <gtest/gtest.h>
#include "base/FileObject.h"
#include "common/TestSupport.h"
#include <string>

namespace
{
class FileObjectTest : public ::testing::Test
{
protected:
    void SetUp() override { m_strDir = MakeTempDir("pvbase"); }
    void TearDown() override { RemoveTree(m_strDir); }

    // Writes data to a file of the test folder and opens it for reading.
    std::string OpenWith(CFileObject& file, const char* leaf, const std::string& data)
    {
        std::string path = m_strDir + leaf;
        EXPECT_TRUE(WriteFileBytes(path, data));
        EXPECT_EQ(S_OK, file.Open(path.c_str(), OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ,
                                  FILE_ATTRIBUTE_NORMAL, NULL));
        return path;
    }

    LONGLONG Position(CFileObject& file)
    {
        LONGLONG pos = -1;
        EXPECT_EQ(S_OK, file.Seek(0, &pos, FILE_CURRENT));
        return pos;
    }

    std::string m_strDir;
};
}

TEST_F(FileObjectTest, NotOpen)
{
    CFileObject file;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(0u, file.m_dwRead);
    EXPECT_EQ(0u, file.m_dwWritten);
    EXPECT_EQ(0, file.m_strName.GetLength());

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

    std::string missing = m_strDir + "missing.txt";
    EXPECT_EQ((HRESULT)0x80070002, file.Open(missing.c_str(), OPEN_EXISTING, GENERIC_READ,
                                             FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, NULL));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(missing, std::string(file.m_strName.GetText()));
    EXPECT_EQ(1, file.Close());
}

TEST_F(FileObjectTest, WriteReadSeek)
{
    std::string path = m_strDir + "out.txt";
    {
        CFileObject file;
        ASSERT_EQ(S_OK, file.Open(path.c_str(), CREATE_ALWAYS, GENERIC_WRITE, 0,
                                  FILE_ATTRIBUTE_NORMAL, NULL));
        EXPECT_EQ(path, std::string(file.m_strName.GetText()));
        DWORD dwWritten = 0;
        EXPECT_EQ(S_OK, file.Write("abc", 3, &dwWritten));
        EXPECT_EQ(3u, dwWritten);
        EXPECT_EQ(S_OK, file.WriteText("\r\nline"));
        EXPECT_EQ(6u, file.m_dwWritten);
        EXPECT_EQ(S_OK, file.WriteFormatted("[%d|%s]", 42, "x"));
        EXPECT_EQ(6u, file.m_dwWritten);
        // A write-only handle cannot be read.
        char c;
        EXPECT_EQ((HRESULT)0x80070005, file.Read(&c, 1));
        // The handle is closed by the destructor: share mode 0 would refuse a second open.
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
    EXPECT_EQ(4u, dwRead);
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
    EXPECT_EQ(2, Position(file));
    EXPECT_EQ((HRESULT)0x80070083, file.Seek(-10, &pos, FILE_BEGIN));

    EXPECT_EQ(S_OK, file.Close());
    EXPECT_EQ(1, file.Close());
    EXPECT_EQ(S_OK, file.Clear());
    EXPECT_EQ(0u, file.m_dwRead);
    EXPECT_EQ(0, file.m_strName.GetLength());
}

TEST_F(FileObjectTest, ReadLineEnds)
{
    char szLine[255];
    DWORD dwCount = 99;
    {
        CFileObject file;
        OpenWith(file, "crlf.txt", "ab\r\ncd");
        EXPECT_EQ(S_OK, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("ab", szLine);
        EXPECT_EQ(2u, dwCount);
        EXPECT_EQ(4, Position(file));
        EXPECT_EQ(HR_END_OF_FILE, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("cd", szLine);
        EXPECT_EQ(2u, dwCount);
        EXPECT_EQ(2u, file.m_dwRead);
    }
    {
        CFileObject file;
        OpenWith(file, "cr.txt", "ab\rcd\r\n");
        EXPECT_EQ(S_OK, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("ab", szLine);
        EXPECT_EQ(3, Position(file));                   // the byte after the lone CR stays
        EXPECT_EQ(S_OK, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("cd", szLine);
        EXPECT_EQ(7, Position(file));
        EXPECT_EQ(HR_END_OF_FILE, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("", szLine);
        EXPECT_EQ(0u, dwCount);
    }
    {
        CFileObject file;
        OpenWith(file, "lf.txt", "a\nb\nc\n");
        EXPECT_EQ(HR_END_OF_FILE, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("a\nb\nc\n", szLine);
        EXPECT_EQ(6u, dwCount);
    }
    {
        CFileObject file;
        OpenWith(file, "zero.txt", std::string("ab\0cd\r", 6));
        EXPECT_EQ(S_OK, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("ab", szLine);
        EXPECT_EQ(S_OK, file.ReadLine(szLine, sizeof(szLine), &dwCount));
        EXPECT_STREQ("cd", szLine);
        EXPECT_EQ(HR_END_OF_FILE, file.ReadLine(szLine, sizeof(szLine)));
    }
}

TEST_F(FileObjectTest, ReadLineLimits)
{
    char szLine[255];
    DWORD dwCount = 0;
    CFileObject file;
    OpenWith(file, "long.txt", std::string(300, 'x') + "\r\nnext");
    EXPECT_EQ(S_OK, file.ReadLine(szLine, sizeof(szLine), &dwCount));
    EXPECT_EQ(254u, dwCount);
    EXPECT_EQ(254u, strlen(szLine));
    EXPECT_EQ(S_OK, file.ReadLine(szLine, sizeof(szLine), &dwCount));
    EXPECT_EQ(46u, dwCount);
    EXPECT_EQ(std::string(46, 'x'), std::string(szLine));

    // Size 1 stores nothing and consumes nothing.
    char szTiny[1] = {'z'};
    EXPECT_EQ(S_OK, file.ReadLine(szTiny, 1, &dwCount));
    EXPECT_EQ(0, szTiny[0]);
    EXPECT_EQ(0u, dwCount);
    EXPECT_EQ(HR_END_OF_FILE, file.ReadLine(szLine, sizeof(szLine), &dwCount));
    EXPECT_STREQ("next", szLine);

    // No room even for the terminator.
    char cUntouched = 'u';
    EXPECT_EQ(E_INVALIDARG, file.ReadLine(&cUntouched, 0, &dwCount));
    EXPECT_EQ('u', cUntouched);
}
