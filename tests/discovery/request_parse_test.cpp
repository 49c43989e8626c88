// Which datagrams count as discovery requests, and the network numbers used to pick the reply's host.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>
#include "core/context.h"
#include "core/result.h"
#include "discovery/listen.h"
#include "discovery/router_addrs.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"

namespace {

class RequestParse : public ::testing::Test {
protected:
    void SetUp() override { ZND_ContextReset(); }
    void TearDown() override { ZND_ContextReset(); }
    LogCapture log;
};

TEST_F(RequestParse, IntegerCodeFiveIsARequestWhateverElseTheObjectHolds)
{
    EXPECT_EQ(ZND_OK, ZND_RequestMsgParse("{\"code\":5}"));
    EXPECT_EQ(ZND_OK, ZND_RequestMsgParse(" { \"name\": \"phone\", \"code\": 5, \"extra\": [1, 2] } "));
    EXPECT_EQ(0u, log.lines().size());
}

TEST_F(RequestParse, OtherIntegerCodesAreRefusedSilently)
{
    for (const char *text : {"{\"code\":4}", "{\"code\":6}", "{\"code\":0}", "{\"code\":4294967301}",
                             "{\"code\":-5}"}) {
        EXPECT_EQ(ZND_ERR_COMMON, ZND_RequestMsgParse(text)) << text;
    }
    // The refusal itself writes nothing; the caller says "unknow the request msg".
    EXPECT_EQ(0u, log.lines().size());
}

TEST_F(RequestParse, CodeOfAnotherTypeCountsAsMissing)
{
    for (const char *text : {"{\"code\":\"5\"}", "{\"code\":5.0}", "{\"code\":null}", "{\"code\":[5]}",
                             "{\"Code\":5}", "{}", "[5]", "5", "\"code\"", "{\"data\":{\"code\":5}}"}) {
        ZND_ContextReset();   // the line is limited to a few a second
        log.Clear();
        EXPECT_EQ(ZND_ERR_COMMON, ZND_RequestMsgParse(text)) << text;
        EXPECT_EQ(1u, log.Count("[ZND_ERROR]  msg obj not found  [line:")) << text;
        EXPECT_EQ(1u, log.lines().size()) << text;
    }
}

TEST_F(RequestParse, TextThatIsNotJson)
{
    for (const char *text : {"", "code=5", "{\"code\":5", "\xff\xfe"}) {
        log.Clear();
        EXPECT_EQ(ZND_ERR_COMMON, ZND_RequestMsgParse(text)) << text;
        EXPECT_TRUE(log.Has("[ZND_ERROR]  parse msg failure  [line:")) << text;
        EXPECT_FALSE(log.Has("msg obj not found")) << text;
    }
}

TEST(NetworkOf, AddressAndMaskOrNothing)
{
    EXPECT_EQ(inet_addr("192.168.1.0"), ZND_NetworkOf("192.168.1.1", "255.255.255.0"));
    EXPECT_EQ(inet_addr("10.1.0.0"), ZND_NetworkOf("10.1.2.3", "255.255.0.0"));
    EXPECT_EQ(0u, ZND_NetworkOf("", "255.255.255.0"));
    EXPECT_EQ(0u, ZND_NetworkOf("192.168.1.1", ""));
    EXPECT_EQ(0u, ZND_NetworkOf("", ""));
}

} // namespace
