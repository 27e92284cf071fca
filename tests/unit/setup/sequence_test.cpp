// The free space the temporary folder must offer: 200 MiB, counted as a 64-bit number.
#include <gtest/gtest.h>
#include "setup/SetupSequence.h"

TEST(TempSpace, TwoHundredMebibytesAreEnough)
{
    EXPECT_TRUE(TempSpaceIsEnough(true, 0xC800000ULL));
    EXPECT_FALSE(TempSpaceIsEnough(true, 0xC800000ULL - 1));
    EXPECT_TRUE(TempSpaceIsEnough(true, 0x100000000ULL + 5)) << "more than 4 GiB always passes, whatever the low 32 bits say";
    EXPECT_FALSE(TempSpaceIsEnough(false, 0xFFFFFFFFFFULL)) << "a failed query never passes";
}
