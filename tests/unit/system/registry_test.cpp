// Registry access against the real registry of the test prefix, under a key of the tests' own.
#include <gtest/gtest.h>
#include <string>
#include "system/Registry.h"

namespace {

const char kKey[] = "Software\\Halvoro\\PivoraRegistryTest";

// The values belong in the 32-bit view of the registry, whichever flavour of the program runs.
void DeleteTestKey()
{
    HKEY parent;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvoro", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      &parent) == ERROR_SUCCESS)
    {
        RegDeleteTreeA(parent, "PivoraRegistryTest");
        RegCloseKey(parent);
    }
}

class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { DeleteTestKey(); }
    void TearDown() override { DeleteTestKey(); }

    void SetRaw(const char* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, NULL, 0,
                                                 KEY_WRITE | KEY_WOW64_32KEY, NULL, &key, NULL));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type,
                                                static_cast<const BYTE*>(data), size));
        RegCloseKey(key);
    }
};

TEST_F(RegistryTest, MissingKeyGivesTheDefaults)
{
    char buffer[2048];
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "ProgramsPath", "fallback", buffer);
    EXPECT_STREQ("fallback", buffer);
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "Path", "", buffer);
    EXPECT_STREQ("", buffer);

    DWORD value = 0;
    EXPECT_EQ(0, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "CANCELED", &value, 7));
    EXPECT_EQ(7u, value);

    CRegistryKey holder(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(0, holder.DeleteValue("CANCELED"));
    CText out;
    EXPECT_STREQ("dflt", holder.ReadString(out, "Path", "dflt").GetText());
}

TEST_F(RegistryTest, WritesCreateTheKeyAndReadBack)
{
    ASSERT_EQ(1, RegWriteString(HKEY_LOCAL_MACHINE, kKey, "ProgramsPath", "C:\\Apps\\"));
    ASSERT_EQ(1, RegWriteDword(HKEY_LOCAL_MACHINE, kKey, "CANCELED", 0x12345678));

    char buffer[2048];
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "ProgramsPath", "x", buffer);
    EXPECT_STREQ("C:\\Apps\\", buffer);
    DWORD value = 0;
    EXPECT_EQ(1, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "CANCELED", &value, 7));
    EXPECT_EQ(0x12345678u, value);

    // The string is stored as REG_SZ with its terminator, in the 32-bit view and only there.
    DWORD type = 0, size = 0;
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_WOW64_64KEY, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_WOW64_32KEY, &key));
    RegQueryValueExA(key, "ProgramsPath", NULL, &type, NULL, &size);
    RegCloseKey(key);
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(9u, size);

    CRegistryKey holder(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(1, holder.DeleteValue("CANCELED"));
    EXPECT_EQ(0, holder.DeleteValue("CANCELED")) << "a second deletion finds nothing";
    EXPECT_EQ(0, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "CANCELED", &value, 3));
    EXPECT_EQ(3u, value);
}

TEST_F(RegistryTest, StringsUpTo254CharactersFit)
{
    std::string s254(254, 'a'), s255(255, 'b');
    RegWriteString(HKEY_LOCAL_MACHINE, kKey, "A", s254.c_str());
    RegWriteString(HKEY_LOCAL_MACHINE, kKey, "B", s255.c_str());
    char buffer[2048];
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "A", "default", buffer);
    EXPECT_EQ(s254, buffer);
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "B", "default", buffer);
    EXPECT_STREQ("default", buffer) << "255 characters and the NUL do not fit in 255 bytes";
}

TEST_F(RegistryTest, ValueWithoutTerminatorIsEnded)
{
    // The type is not checked, so raw bytes without a NUL reach the buffer as they are.
    char buffer[2048];
    memset(buffer, 'X', sizeof(buffer));
    SetRaw("Raw", REG_BINARY, "abc", 3);
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "Raw", "default", buffer);
    EXPECT_STREQ("abc", buffer);

    std::string s255(255, 'c');
    memset(buffer, 'X', sizeof(buffer));
    SetRaw("Raw255", REG_BINARY, s255.data(), 255);
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "Raw255", "default", buffer);
    EXPECT_EQ(s255, buffer);
}

TEST_F(RegistryTest, ShortDwordDataYieldsTheDefault)
{
    DWORD value = 0;
    SetRaw("Short", REG_BINARY, "\x01\x02", 2);
    EXPECT_EQ(0, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "Short", &value, 0xAB));
    EXPECT_EQ(0xABu, value);

    SetRaw("Wide", REG_BINARY, "\x01\x00\x00\x00\x09", 5);
    EXPECT_EQ(1, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "Wide", &value, 0xAB));
    EXPECT_EQ(1u, value) << "the first four bytes count";
}

} // namespace
