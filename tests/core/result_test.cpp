#include <gtest/gtest.h>
#include <string>
#include "core/result.h"

TEST(ResultText, KnownCodesHaveTheirText)
{
    EXPECT_STREQ("OK", ZND_GetErrorText(0));
    EXPECT_STREQ("Common error", ZND_GetErrorText(2));
    EXPECT_STREQ("acc tunnel is used", ZND_GetErrorText(16));
    EXPECT_STREQ("State machine can't deal this command", ZND_GetErrorText(34));
    EXPECT_STREQ("Match acc node config fail", ZND_GetErrorText(36));
    EXPECT_STREQ("Ioctl fail", ZND_GetErrorText(52));
    EXPECT_STREQ("default gateway get fail", ZND_GetErrorText(60));
}

TEST(ResultText, GapsAndOutOfRangeAreUnknown)
{
    for (uint32_t code : {3u, 10u, 13u, 17u, 20u, 30u, 37u, 50u, 61u, 1000u, 0xFFFFFFFFu})
        EXPECT_STREQ("Unknown error", ZND_GetErrorText(code)) << code;
    EXPECT_STREQ("Unknown error", ZND_GetErrorText((uint32_t)-32601));
}

TEST(ResultText, EveryListedCodeHasDistinctText)
{
    const uint32_t listed[] = {0, 1, 2, 11, 12, 14, 15, 16, 31, 32, 33, 34, 35, 36,
                               51, 52, 53, 54, 55, 56, 57, 58, 59, 60};
    int unknown = 0;
    for (uint32_t c = 0; c <= 60; c++)
        if (std::string(ZND_GetErrorText(c)) == "Unknown error")
            unknown++;
    EXPECT_EQ(61 - (int)(sizeof listed / sizeof listed[0]), unknown);
}
