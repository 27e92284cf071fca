#include "payload/Unpack.h"
#include "payload/Crc32.h"
#include "base/Module.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include "resources/resource.h"
#include <algorithm>
#include <gtest/gtest.h>

namespace
{
// The size of b and where it first differs from a: a readable failure for megabytes of data.
std::pair<size_t, size_t> SizeAndFirstDifference(const std::string& a, const std::string& b)
{
    return {b.size(), std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin()};
}
} // namespace

// The resources were scrambled by the payload tool at build time (its rule is checked on its own
// in payloadtool_test.py); the sizes lie around the chunk limits of 100,000 and 1,000,000 bytes.
// This program's own carry no checksums. Those of payload_checked.dll do: payloads of four chunks
// and more, whose first chunk and fourth chunk on are summed on a thread of their own, of
// 3,500,000 bytes in large chunks and of 450,000 in small ones. payload_damaged.dll gives each
// the other's checksum, so that no file is left of either.
TEST(UnpackResource, WritesThePlainBytesAroundTheChunkLimits)
{
    const std::string dir = MakeTempDir("pvu"), out = dir + "out.bin";
    const HINSTANCE own = GetModuleInstance();
    const struct { const char* module; WORD id; size_t size; bool good; } cases[] = {{NULL, IDR_TEST_100000, 100000, true},
        {NULL, IDR_TEST_250000, 250000, true}, {NULL, IDR_TEST_450000, 450000, true}, {NULL, IDR_TEST_2999999, 2999999, true},
        {NULL, IDR_TEST_3000000, 3000000, true}, {"payload_checked.dll", IDR_ARCHIVE, 3500000, true},
        {"payload_checked.dll", IDR_WMFDIST, 450000, true}, {"payload_damaged.dll", IDR_ARCHIVE, 3500000, false},
        {"payload_damaged.dll", IDR_WMFDIST, 450000, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.module ? c.module : "own") + " resource " + std::to_string(c.id) + ", " + std::to_string(c.size) + " bytes");
        std::string plain, written;
        ASSERT_TRUE(ReadFileBytes(DataDir() + "plain_" + std::to_string(c.size) + ".bin", &plain));
        // Over a longer file, which must be replaced, not overwritten in part.
        ASSERT_TRUE(WriteFileBytes(out, std::string(c.size + 5000, 'x')));
        HMODULE module = c.module ? LoadLibraryA((ProgramDir() + c.module).c_str()) : NULL;
        SetModuleInstance(module ? module : own);
        EXPECT_EQ(c.good ? S_OK : HR_PAYLOAD_DAMAGED, UnpackResource(c.id, out.c_str()));
        // Read in place, the same bytes, whatever the checksums say; read again from inside the
        // third chunk backwards into the second.
        CPayloadReader reader(c.id);
        std::string read(c.size, '\0');
        EXPECT_TRUE(reader.Read(0, reinterpret_cast<BYTE*>(&read[0]), c.size));
        EXPECT_EQ(std::make_pair(c.size, c.size), SizeAndFirstDifference(plain, read));
        const size_t chunk = c.size >= 3000000 ? 1000000 : 100000, back = 2 * chunk - 3;
        if (c.size >= back + chunk / 2 + 4)
        {
            EXPECT_TRUE(reader.Read(static_cast<DWORD>(back + chunk / 2), reinterpret_cast<BYTE*>(&read[0]), 4) &&
                        reader.Read(static_cast<DWORD>(back), reinterpret_cast<BYTE*>(&read[4]), 7));
            EXPECT_EQ(plain.substr(back + chunk / 2, 4) + plain.substr(back, 7), read.substr(0, 11));
        }
        EXPECT_FALSE(reader.Read(static_cast<DWORD>(c.size) - 1, reinterpret_cast<BYTE*>(&read[0]), 2));
        SetModuleInstance(own);
        FreeLibrary(module);
        EXPECT_EQ(c.good, ReadFileBytes(out, &written)) << "the file of a damaged payload is left";
        EXPECT_EQ(std::make_pair(c.good ? c.size : 0, c.good ? c.size : 0), SizeAndFirstDifference(plain, written));
    }
    RemoveTree(dir);
}

TEST(UnpackResource, FailsWithoutCreatingAFile)
{
    const std::string dir = MakeTempDir("pvu");
    ASSERT_TRUE(FindResourceA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_TEST_EMPTY),
                              MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD)) != NULL);
    EXPECT_EQ(E_FAIL, UnpackResource(IDR_TEST_MISSING, (dir + "missing.bin").c_str()));
    EXPECT_EQ(E_FAIL, UnpackResource(IDR_TEST_EMPTY, (dir + "empty.bin").c_str()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), UnpackResource(IDR_TEST_250000, (dir + "absent\\out.bin").c_str()));
    EXPECT_EQ(0u, CPayloadReader(IDR_TEST_MISSING).GetSize());
    EXPECT_EQ(0u, CPayloadReader(IDR_TEST_EMPTY).GetSize());
    EXPECT_EQ(std::vector<std::string>(), ListFolder(dir));   // nor a folder made
    RemoveTree(dir);
}

// The checksum is zlib's (the build's checksums are made with it on the host): the standard
// check value, and any split of a text summed in two pieces and combined, at every alignment and
// on both sides of the length from which it is summed in lanes.
TEST(Crc32, ZlibsValueWholeAndCombined)
{
    const BYTE* check = reinterpret_cast<const BYTE*>("123456789");
    EXPECT_EQ(0xCBF43926u, Crc32(0, check, 9));
    EXPECT_EQ(0u, Crc32(0, check, 0));
    std::string text;
    for (int i = 0; i < 9000; ++i)
        text += static_cast<char>(i * 7 + (i >> 8));
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    const DWORD whole = Crc32(0, bytes, text.size());
    for (size_t split = 0; split <= text.size(); ++split)
    {
        EXPECT_EQ(whole, Crc32(Crc32(0, bytes, split), bytes + split, text.size() - split)) << split;
        EXPECT_EQ(whole, Crc32Combine(Crc32(0, bytes, split), Crc32(0, bytes + split, text.size() - split),
                                      text.size() - split)) << split;
    }
}
