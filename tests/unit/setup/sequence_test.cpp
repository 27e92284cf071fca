// The free space the temporary folder must offer: what the payloads write, at least 200 MiB,
// counted as a 64-bit number.
#include <gtest/gtest.h>
#include "setup/TempSpace.h"

TEST(TempSpace, WhatIsNeededAndNoLessIsEnough)
{
    const ULONGLONG needed = 0x123456789ULL;
    EXPECT_TRUE(TempSpaceIsEnough(true, needed, needed));
    EXPECT_FALSE(TempSpaceIsEnough(true, needed - 1, needed)) << "the low 32 bits alone would pass";
    EXPECT_FALSE(TempSpaceIsEnough(false, 0xFFFFFFFFFFULL, needed)) << "a failed query never passes";
    // This program carries no payloads: the floor.
    EXPECT_EQ(0xC800000ULL, TempSpaceNeeded());
    EXPECT_TRUE(TempFolderHasRoom("C:\\", 1));
    EXPECT_FALSE(TempFolderHasRoom("C:\\", 0xFFFFFFFFFFFFFFFFULL));
    EXPECT_FALSE(TempFolderHasRoom("Q:\\no such drive\\", 0)) << "a failed query never passes";
}
