// Registry access against the real registry of the test prefix, under a key of the tests' own in
// the 32-bit view, where the values belong whichever flavour of the program runs.
#include <gtest/gtest.h>
#include <string>
#include "system/Registry.h"

namespace {

const char kKey[] = "Software\\Halvoro\\PivoraRegistryTest";

void DeleteTestKey()
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
}

HKEY OpenTestKey()
{
    HKEY key = NULL;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, NULL, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &key, NULL);
    return key;
}

TEST(Registry, MissingKeyGivesTheDefaults)
{
    DeleteTestKey();
    char buffer[2048];
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "ProgramsPath", "fallback", buffer);
    EXPECT_STREQ("fallback", buffer);
    DWORD value = 0;
    EXPECT_EQ(0, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "CANCELED", &value, 7));
    EXPECT_EQ(7u, value);
    EXPECT_EQ(0, CRegistryKey(HKEY_LOCAL_MACHINE, kKey).DeleteValue("CANCELED"));
}

TEST(Registry, WritesReadBackAndDelete)
{
    DeleteTestKey();
    ASSERT_EQ(1, RegWriteString(HKEY_LOCAL_MACHINE, kKey, "ProgramsPath", "C:\\Apps\\"));
    ASSERT_EQ(1, RegWriteDword(HKEY_LOCAL_MACHINE, kKey, "CANCELED", 0x12345678));
    char buffer[2048];
    RegReadString(HKEY_LOCAL_MACHINE, kKey, "ProgramsPath", "x", buffer);
    EXPECT_STREQ("C:\\Apps\\", buffer);
    DWORD value = 0;
    EXPECT_EQ(1, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "CANCELED", &value, 7));
    EXPECT_EQ(0x12345678u, value);
    CRegistryKey holder(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(1, holder.DeleteValue("CANCELED"));
    EXPECT_EQ(0, holder.DeleteValue("CANCELED")) << "a second deletion finds nothing";

    // Values as another program may have left them: up to 254 characters and their NUL fit,
    // data without a NUL is ended; fewer than four bytes are no DWORD, of more the first four
    // count.
    HKEY key = OpenTestKey();
    const std::string s254(254, 'a'), s255(255, 'b');
    const struct { std::string data, text; } strings[] = {
        {s254 + '\0', s254}, {s255 + '\0', "default"}, {"abc", "abc"}, {s255, s255}};
    for (const auto& c : strings)
    {
        RegSetValueExA(key, "Raw", 0, REG_BINARY, (const BYTE*)c.data.data(), DWORD(c.data.size()));
        memset(buffer, 'X', sizeof(buffer));
        RegReadString(HKEY_LOCAL_MACHINE, kKey, "Raw", "default", buffer);
        EXPECT_EQ(c.text, buffer) << c.data.size() << " bytes";
    }
    const struct { std::string data; int read; DWORD value; } dwords[] = {
        {"\x01\x02", 0, 0xAB}, {std::string("\x01\x00\x00\x00\x09", 5), 1, 1}};
    for (const auto& c : dwords)
    {
        RegSetValueExA(key, "Raw", 0, REG_BINARY, (const BYTE*)c.data.data(), DWORD(c.data.size()));
        EXPECT_EQ(c.read, RegReadDword(HKEY_LOCAL_MACHINE, kKey, "Raw", &value, 0xAB));
        EXPECT_EQ(c.value, value) << c.data.size() << " bytes";
    }
    RegCloseKey(key);
    DeleteTestKey();
}

} // namespace
