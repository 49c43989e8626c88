// Login reply fields by position.
#include <cstring>
#include <gtest/gtest.h>
#include "cloud/login.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"

namespace {

class LoginParse : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        memset(&c, 0, sizeof c);
    }
    void TearDown() override { ZND_ContextReset(); }
    ClientRecord c;
};

TEST_F(LoginParse, FullReplySetsEveryField)
{
    ZND_DebugOn();
    LogCapture log;
    ASSERT_EQ(ZND_OK, ZND_ParseUserLoginDataOld(
                          &c, "Y|2025-06-30_23:59:59|x|100|x|2025-06-01_08:00:00|1|x|203.0.113.7|0"));
    EXPECT_EQ(13, c.ucVipType);
    EXPECT_EQ(1, c.ucPayState);
    EXPECT_EQ(0, c.ucAccTunState);
    EXPECT_STREQ("2025-06-30_23:59:59", c.ucExprtData);
    EXPECT_STREQ("2025-06-01_08:00:00", c.ucSvrCurTime);
    EXPECT_STREQ("203.0.113.7", c.ucPbNetIp);
    EXPECT_TRUE(log.Has("ucVipType: 1"));
    EXPECT_TRUE(log.Has("ucVipType: 5"));
    EXPECT_TRUE(log.Has("ucPbNetIp: 203.0.113.7"));
    EXPECT_TRUE(log.Has("ucAccTunState: 0"));
}

TEST_F(LoginParse, TypeAndPayStateZeroLeaveOnlyAcceptedBit)
{
    ASSERT_EQ(ZND_OK, ZND_ParseUserLoginDataOld(
                          &c, "Y|2025-06-30_23:59:59|x|0|x|2025-06-01_08:00:00|0|x|203.0.113.7|0"));
    EXPECT_EQ(1, c.ucVipType);
}

TEST_F(LoginParse, OnlinesAndEightBitNumbers)
{
    ASSERT_EQ(ZND_OK, ZND_ParseUserLoginDataOld(&c, "Y|e|x|abc|x|t|257|x|ip|1|extra|fields"));
    EXPECT_EQ(1, c.ucAccTunState);
    EXPECT_EQ(1, c.ucPayState);   // 257, low 8 bits
    EXPECT_EQ(1 | 8, c.ucVipType);
}

TEST_F(LoginParse, RefusalStopsAtFirstField)
{
    c.ucVipType = 9;
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, ZND_ParseUserLoginDataOld(&c, "N|2025-06-30_23:59:59|x|100|x|t|1|x|ip|1"));
    EXPECT_EQ(0, c.ucVipType);
    EXPECT_STREQ("", c.ucExprtData);
    EXPECT_EQ(0, c.ucAccTunState);
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, ZND_ParseUserLoginDataOld(&c, "N"));
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, ZND_ParseUserLoginDataOld(&c, ""));
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, ZND_ParseUserLoginDataOld(&c, "|Y"));
}

TEST_F(LoginParse, LongFieldsAreCut)
{
    std::string ip40(40, '7');
    std::string date70(70, 'd');
    std::string reply = "Y|" + date70 + "|x|100|x|t|0|x|" + ip40 + "|0";
    ASSERT_EQ(ZND_OK, ZND_ParseUserLoginDataOld(&c, reply.c_str()));
    EXPECT_EQ(std::string(32, '7'), c.ucPbNetIp);
    EXPECT_EQ(std::string(32, 'd'), c.ucExprtData);
    EXPECT_EQ(5, c.ucVipType);   // fields after the long one are still found
}

TEST_F(LoginParse, ShortReplyAndEmptyFields)
{
    ASSERT_EQ(ZND_OK, ZND_ParseUserLoginDataOld(&c, "Y|2025-06-30_23:59:59"));
    EXPECT_STREQ("2025-06-30_23:59:59", c.ucExprtData);
    EXPECT_STREQ("", c.ucSvrCurTime);
    EXPECT_STREQ("", c.ucPbNetIp);
    EXPECT_EQ(1, c.ucVipType);

    // Empty fields keep their positions: "||" is not one separator.
    memset(&c, 0, sizeof c);
    ASSERT_EQ(ZND_OK, ZND_ParseUserLoginDataOld(&c, "Y||||||||198.51.100.9|2"));
    EXPECT_STREQ("198.51.100.9", c.ucPbNetIp);
    EXPECT_EQ(2, c.ucAccTunState);
    EXPECT_STREQ("", c.ucExprtData);
}

TEST_F(LoginParse, MissingArguments)
{
    LogCapture log;
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ParseUserLoginDataOld(nullptr, "Y"));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ParseUserLoginDataOld(&c, nullptr));
    EXPECT_EQ(2u, log.Count("the argument point is NULL!!"));
}

} // namespace
