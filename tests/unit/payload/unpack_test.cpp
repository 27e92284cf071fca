#include "payload/Unpack.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include "resources/resource.h"
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

// Where two byte strings first differ: a readable failure for megabytes of data.
std::string FirstDifference(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return "first difference at offset " + std::to_string(i);
    return "equal";
}
} // namespace

// The resources were scrambled by the payload tool at build time (its rule is checked on its own
// in payloadtool_test.py); the sizes lie around the chunk limits of 100,000 and 1,000,000 bytes.
TEST(UnpackResource, WritesThePlainBytesAroundTheChunkLimits)
{
    const struct
    {
        WORD id;
        size_t size;
    } sizes[] = {{IDR_TEST_100000, 100000},   {IDR_TEST_250000, 250000},
                 {IDR_TEST_450000, 450000},   {IDR_TEST_2999999, 2999999},
                 {IDR_TEST_3000000, 3000000}};
    std::string dir = MakeTempDir("pvu");
    for (const auto& c : sizes)
    {
        SCOPED_TRACE("resource of " + std::to_string(c.size) + " bytes");
        std::string plain, written;
        ASSERT_TRUE(ReadFileBytes(DataDir() + "plain_" + std::to_string(c.size) + ".bin", &plain));
        ASSERT_EQ(c.size, plain.size());
        const std::string stored = ResourceBytes(c.id);
        ASSERT_EQ(c.size, stored.size());
        EXPECT_EQ(c.size <= 100000, stored == plain);   // one chunk is stored as it is

        // Over a longer file, which must be replaced, not overwritten in part.
        std::string out = dir + "out_" + std::to_string(c.size) + ".bin";
        ASSERT_TRUE(WriteFileBytes(out, std::string(c.size + 5000, 'x')));
        ASSERT_TRUE(UnpackResource(c.id, out.c_str()));
        ASSERT_TRUE(ReadFileBytes(out, &written));
        EXPECT_EQ("equal", FirstDifference(plain, written));
        // The resource's memory is unscrambled from, never in place.
        EXPECT_EQ("equal", FirstDifference(stored, ResourceBytes(c.id)));
    }
    RemoveTree(dir);
}

TEST(UnpackResource, FailsWithoutCreatingAFile)
{
    std::string dir = MakeTempDir("pvu");
    ASSERT_TRUE(FindResourceA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_TEST_EMPTY),
                              MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD)) != NULL);
    EXPECT_FALSE(UnpackResource(IDR_TEST_MISSING, (dir + "missing.bin").c_str()));
    EXPECT_FALSE(UnpackResource(IDR_TEST_EMPTY, (dir + "empty.bin").c_str()));
    EXPECT_FALSE(UnpackResource(IDR_TEST_250000, (dir + "absent\\out.bin").c_str()));
    EXPECT_EQ(std::vector<std::string>(), ListFolder(dir));   // nor a folder made
    RemoveTree(dir);
}
