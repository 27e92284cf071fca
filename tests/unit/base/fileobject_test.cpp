// CFileObject on real files: result codes, the not-open answer, and the line reader's handling
// of CR, CR LF, lone LF, NUL, the size limit and the end of the file.
#include <gtest/gtest.h>
#include "base/FileObject.h"
#include "common/TestSupport.h"
#include <string>
#include <vector>

TEST(FileObject, OpenWriteReadSeekAndTheirResults)
{
    std::string dir = MakeTempDir("pvbase"), path = dir + "out.txt";
    CFileObject file;
    char szBuffer[32] = "keep";
    DWORD dwCount = 77;
    LONGLONG pos = 55;
    EXPECT_EQ((HRESULT)0x80070002, file.Open((dir + "missing.txt").c_str(), OPEN_EXISTING, GENERIC_READ,
                                             FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, NULL));
    const HRESULT notOpen[] = {file.Close(), file.Read(szBuffer, 4, &dwCount), file.Write("x", 1, &dwCount),
                               file.WriteText("x"), file.Seek(0, &pos, FILE_BEGIN), file.ReadLine(szBuffer, 8, &dwCount)};
    for (HRESULT hr : notOpen)
        EXPECT_EQ(1, hr) << "not open";
    EXPECT_EQ("keep 77 55", szBuffer + (" " + std::to_string(dwCount)) + " " + std::to_string(pos));
    {
        CFileObject writer;   // its destructor closes the handle: share mode 0 refuses the open below
        ASSERT_EQ(S_OK, writer.Open(path.c_str(), CREATE_ALWAYS, GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL, NULL));
        EXPECT_TRUE(writer.Write("abc", 3, &dwCount) == S_OK && dwCount == 3) << dwCount;
        EXPECT_EQ(S_OK, writer.WriteText("\r\nline"));
        EXPECT_EQ(S_OK, writer.WriteFormatted("[%d|%s]", 42, "x"));
        EXPECT_EQ((HRESULT)0x80070005, writer.Read(szBuffer, 1));
    }
    ASSERT_EQ(S_OK, file.Open(path.c_str(), OPEN_EXISTING, GENERIC_READ, 0, FILE_ATTRIBUTE_NORMAL, NULL));
    EXPECT_EQ(S_OK, file.Read(szBuffer, sizeof(szBuffer), &dwCount));
    EXPECT_EQ("abc\r\nline[42|x]", std::string(szBuffer, dwCount));
    EXPECT_EQ(HR_END_OF_FILE, file.Read(szBuffer, sizeof(szBuffer), &dwCount));
    EXPECT_EQ(0u, dwCount);
    EXPECT_EQ(S_OK, file.Seek(-3, &pos, FILE_END));
    EXPECT_EQ(12, pos);
    EXPECT_EQ((HRESULT)0x80070083, file.Seek(-10, &pos, FILE_BEGIN));
    EXPECT_EQ(S_OK, file.Close());
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
        {std::string(300, 'x') + "\r\nnext", {{255, S_OK, std::string(254, 'x')}, {255, S_OK, std::string(46, 'x')},
                                             {1, S_OK, ""}, {0, E_INVALIDARG, "untouched"}, {255, HR_END_OF_FILE, "next"}}}};
    std::string dir = MakeTempDir("pvbase");
    for (const auto& c : cases)
    {
        CFileObject file;
        ASSERT_TRUE(WriteFileBytes(dir + "lines.txt", c.data));
        ASSERT_EQ(S_OK, file.Open((dir + "lines.txt").c_str(), OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, NULL));
        for (const Call& call : c.calls)
        {
            char szLine[255] = "untouched";
            DWORD dwCount = 99;
            EXPECT_EQ(call.hr, file.ReadLine(szLine, call.nSize, &dwCount)) << c.data.substr(0, 8);
            EXPECT_EQ(call.line, std::string(szLine)) << c.data.substr(0, 8);
            EXPECT_TRUE(call.hr == E_INVALIDARG || call.line.size() == dwCount) << c.data.substr(0, 8) << " count " << dwCount;
        }
    }
    RemoveTree(dir);
}
