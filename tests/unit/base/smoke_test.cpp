#include <gtest/gtest.h>
#include <windows.h>
TEST(Smoke, CodePage) { EXPECT_EQ(932u, GetACP()); }
