#include <gtest/gtest.h>
#include "common/TestSupport.h"
#include <windows.h>
TEST(Smoke, CodePage) { EXPECT_EQ(932u, GetACP()); EXPECT_EQ(std::string("\x83\x5A"), Sjis(u8"セ")); }
