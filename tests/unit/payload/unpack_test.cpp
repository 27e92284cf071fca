#include "payload/Unpack.h"
#include "common/TestSupport.h"
#include "unit/payload/PayloadTestSupport.h"
#include "resources/resource.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace
{
struct SizeCase
{
    WORD id;
    size_t size;
};
const SizeCase kSizes[] = {
    {IDR_TEST_100000, 100000},   {IDR_TEST_250000, 250000},   {IDR_TEST_450000, 450000},
    {IDR_TEST_2999999, 2999999}, {IDR_TEST_3000000, 3000000},
};

std::string PlainInput(size_t size)
{
    std::string data;
    ReadFileBytes(DataDir() + "plain_" + std::to_string(size) + ".bin", &data);
    return data;
}

// The stored form written out from the rule itself, independently of the payload tool:
// chunks 1 and 2 as a running XOR seeded 0x5E and 0x27, chunk size 1,000,000 from 3,000,000
// bytes up, else 100,000.
std::string ScrambleByRule(std::string data)
{
    const size_t chunk = data.size() >= 3000000 ? 1000000 : 100000;
    const unsigned char seeds[2] = {0x5E, 0x27};
    for (int i = 1; i <= 2; ++i)
    {
        size_t begin = chunk * i;
        size_t end = std::min(data.size(), begin + chunk);
        unsigned char previous = seeds[i - 1];
        for (size_t k = begin; k < end; ++k)
        {
            unsigned char plain = static_cast<unsigned char>(data[k]);
            data[k] = static_cast<char>(plain ^ previous);
            previous = plain;
        }
    }
    return data;
}

std::string ResourceBytes(WORD id)
{
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD));
    if (!info)
        return std::string();
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, info)));
    return bytes ? std::string(bytes, SizeofResource(module, info)) : std::string();
}

// Offsets where two byte strings first differ, for a readable failure.
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

TEST(UnpackResource, WritesThePlainBytesAroundTheChunkLimits)
{
    std::string dir = MakeTempDir("pvu");
    ASSERT_FALSE(dir.empty());
    for (const SizeCase& c : kSizes)
    {
        SCOPED_TRACE("resource of " + std::to_string(c.size) + " bytes");
        std::string plain = PlainInput(c.size);
        ASSERT_EQ(c.size, plain.size()) << "plain input missing in " << DataDir();
        std::string stored = ResourceBytes(c.id);
        ASSERT_EQ(c.size, stored.size());
        // The embedded resource is scrambled exactly as the rule says (checked against the rule,
        // not against the tool that made it); up to 100,000 bytes it is stored as it is.
        EXPECT_EQ("equal", FirstDifference(ScrambleByRule(plain), stored));
        EXPECT_EQ(c.size <= 100000, stored == plain);

        std::string out = dir + "out_" + std::to_string(c.size) + ".bin";
        ASSERT_TRUE(UnpackResource(c.id, out.c_str()));
        std::string written;
        ASSERT_TRUE(ReadFileBytes(out, &written));
        EXPECT_EQ("equal", FirstDifference(plain, written));

        // The resource's own memory is read-only and stays as it was: a second unpacking, over
        // the file of the first, writes the same plain bytes again.
        EXPECT_EQ("equal", FirstDifference(stored, ResourceBytes(c.id)));
        ASSERT_TRUE(UnpackResource(c.id, out.c_str()));
        ASSERT_TRUE(ReadFileBytes(out, &written));
        EXPECT_EQ("equal", FirstDifference(plain, written));
    }

    // An existing, longer file is replaced, not overwritten in part.
    std::string existing = dir + "existing.bin";
    ASSERT_TRUE(WriteFileBytes(existing, std::string(400000, 'x')));
    ASSERT_TRUE(UnpackResource(IDR_TEST_250000, existing.c_str()));
    std::string written;
    ASSERT_TRUE(ReadFileBytes(existing, &written));
    EXPECT_EQ("equal", FirstDifference(PlainInput(250000), written));
    RemoveTree(dir);
}

TEST(UnpackResource, FailsWithoutCreatingAFile)
{
    std::string dir = MakeTempDir("pvu");
    ASSERT_FALSE(dir.empty());

    std::string missing = dir + "missing.bin";
    EXPECT_FALSE(UnpackResource(IDR_TEST_MISSING, missing.c_str()));
    EXPECT_FALSE(FileExists(missing));

    ASSERT_EQ(0u, ResourceBytes(IDR_TEST_EMPTY).size());
    ASSERT_TRUE(FindResourceA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_TEST_EMPTY),
                              MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD)) != NULL);
    std::string empty = dir + "empty.bin";
    EXPECT_FALSE(UnpackResource(IDR_TEST_EMPTY, empty.c_str()));
    EXPECT_FALSE(FileExists(empty));

    // A folder that does not exist is not made.
    std::string nested = dir + "absent\\out.bin";
    EXPECT_FALSE(UnpackResource(IDR_TEST_250000, nested.c_str()));
    EXPECT_FALSE(FileExists(dir + "absent"));

    EXPECT_EQ(std::vector<std::string>(), ListFolder(dir));
    RemoveTree(dir);
}
