#include "payload/Unpack.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include "resources/resource.h"
#include <algorithm>
#include <gtest/gtest.h>

namespace
{
std::string ResourceBytes(WORD id)
{
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD));
    const char* bytes = info ? static_cast<const char*>(LockResource(LoadResource(module, info))) : NULL;
    return bytes ? std::string(bytes, SizeofResource(module, info)) : std::string();
}

// The size of b and where it first differs from a: a readable failure for megabytes of data.
std::pair<size_t, size_t> SizeAndFirstDifference(const std::string& a, const std::string& b)
{
    return {b.size(), std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin()};
}
} // namespace

// The resources were scrambled by the payload tool at build time (its rule is checked on its own
// in payloadtool_test.py); the sizes lie around the chunk limits of 100,000 and 1,000,000 bytes.
TEST(UnpackResource, WritesThePlainBytesAroundTheChunkLimits)
{
    const std::string dir = MakeTempDir("pvu");
    WORD id = IDR_TEST_100000;   // the ids follow the sizes
    for (size_t size : {100000, 250000, 450000, 2999999, 3000000})
    {
        SCOPED_TRACE("resource of " + std::to_string(size) + " bytes");
        std::string plain, written, out = dir + "out_" + std::to_string(size) + ".bin";
        const std::string stored = ResourceBytes(id);
        ASSERT_TRUE(ReadFileBytes(DataDir() + "plain_" + std::to_string(size) + ".bin", &plain));
        // Over a longer file, which must be replaced, not overwritten in part.
        ASSERT_TRUE(WriteFileBytes(out, std::string(size + 5000, 'x')));
        ASSERT_TRUE(UnpackResource(id, out.c_str()));
        ASSERT_TRUE(ReadFileBytes(out, &written));
        EXPECT_EQ(std::make_pair(size, size), SizeAndFirstDifference(plain, written));
        // The resource's memory is unscrambled from, never in place.
        EXPECT_EQ(std::make_pair(size, size), SizeAndFirstDifference(stored, ResourceBytes(id++)));
    }
    RemoveTree(dir);
}

TEST(UnpackResource, FailsWithoutCreatingAFile)
{
    const std::string dir = MakeTempDir("pvu");
    ASSERT_TRUE(FindResourceA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_TEST_EMPTY),
                              MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD)) != NULL);
    EXPECT_FALSE(UnpackResource(IDR_TEST_MISSING, (dir + "missing.bin").c_str()));
    EXPECT_FALSE(UnpackResource(IDR_TEST_EMPTY, (dir + "empty.bin").c_str()));
    EXPECT_FALSE(UnpackResource(IDR_TEST_250000, (dir + "absent\\out.bin").c_str()));
    EXPECT_EQ(std::vector<std::string>(), ListFolder(dir));   // nor a folder made
    RemoveTree(dir);
}
