// Game list replies: the routes of game 757 go into the set, nothing else does.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include "cloud/cloud_route.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "route_set_util.h"

namespace {

class RouteParse : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        ZND_RouteHashInit(&set);
    }
    void TearDown() override
    {
        ZND_RouteHashClear(&set);
        ZND_ContextReset();
    }
    uint32_t Parse(const std::string &xml) { return ZND_ParseLoginRouteDataOld(xml.data(), xml.size(), &set); }
    size_t Count()
    {
        size_t n = 0;
        RouteSetItems(set, &n);
        return n;
    }
    ZND_RouteHash set;
};

TEST_F(RouteParse, TwoItemsOfGame757)
{
    ZND_DebugOn();
    LogCapture log;
    ASSERT_EQ(ZND_OK, Parse("<games><game><gid>757</gid><gname>Demo</gname>"
                            "<gsroute>203.0.113.0:255.255.255.0|198.51.100.0:255.255.255.0</gsroute>"
                            "</game></games>"));
    EXPECT_EQ((std::set<std::string>{"203.0.113.0/255.255.255.0", "198.51.100.0/255.255.255.0"}),
              RouteSetItems(set));
    EXPECT_TRUE(log.Has("======key : gname, value : Demo=========="));
    EXPECT_TRUE(log.Has("=========ip/mask: 198.51.100.0/255.255.255.0==========="));
}

TEST_F(RouteParse, DuplicatesAcrossItemsAndElementsStoredOnce)
{
    ASSERT_EQ(ZND_OK, Parse("<games><game><gid>757</gid>"
                            "<gsroute>203.0.113.0:255.255.255.0|203.0.113.0:255.255.255.0</gsroute>"
                            "<GSROUTE>203.0.113.0:255.255.255.0|192.0.2.0:255.255.255.128</GSROUTE>"
                            "</game></games>"));
    EXPECT_EQ(2u, Count());
}

TEST_F(RouteParse, OnlyFirstGame757IsRead)
{
    ASSERT_EQ(ZND_OK, Parse("<Games>\n <game><gid>100</gid><gsroute>10.1.0.0:255.255.0.0</gsroute></game>\n"
                            " <Game><Gid>757</Gid><gsroute>10.2.0.0:255.255.0.0</gsroute></Game>\n"
                            " <game><gid>757</gid><gsroute>10.3.0.0:255.255.0.0</gsroute></game>\n</Games>"));
    EXPECT_EQ((std::set<std::string>{"10.2.0.0/255.255.0.0"}), RouteSetItems(set));
}

TEST_F(RouteParse, Game757WithoutRoutesIsSuccess)
{
    EXPECT_EQ(ZND_OK, Parse("<games><game><gid>757</gid><gname>x</gname></game></games>"));
    EXPECT_EQ(0u, Count());
}

TEST_F(RouteParse, FailuresAddNothing)
{
    LogCapture log;
    EXPECT_EQ(ZND_ERR_COMMON, Parse("<games><game><gid>100</gid><gsroute>10.1.0.0:255.255.0.0</gsroute></game></games>"));
    EXPECT_EQ(ZND_ERR_COMMON, Parse("<servers><game><gid>757</gid></game></servers>"));
    EXPECT_TRUE(log.Has("parse xml chld failed!"));
    EXPECT_EQ(ZND_ERR_COMMON, Parse("<games><game><gid>757</gid><gsroute>10.1.0.0:255"));
    EXPECT_TRUE(log.Has("get parse xml memory failed!"));
    EXPECT_EQ(ZND_ERR_COMMON, Parse("<html><body>500<hr></body></html>"));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ParseLoginRouteDataOld("<games/>", 0, &set));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ParseLoginRouteDataOld(nullptr, 5, &set));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ParseLoginRouteDataOld("<games/>", 8, nullptr));
    EXPECT_EQ(3u, log.Count("the argument point is NULL!!"));
    EXPECT_EQ(0u, Count());
}

TEST_F(RouteParse, MalformedItemsAreSkippedNotHalfStored)
{
    std::string long_ip = "1234567890.1234567:255.0.0.0";          // address of 18 characters
    std::string long_mask = "10.9.0.0:255.255.255.255.255";        // mask of 19 characters
    std::string huge(200, '9');
    ASSERT_EQ(ZND_OK, Parse("<games><game><gid>757</gid><gsroute>"
                            "||10.4.0.0:255.255.0.0|no-colon|:255.0.0.0|10.5.0.0:|" +
                            long_ip + "|" + long_mask + "|" + huge + ":" + huge +
                            "|\n    10.6.0.0:255.255.0.0 trailing\n|</gsroute></game></games>"));
    EXPECT_EQ((std::set<std::string>{"10.4.0.0/255.255.0.0", "10.6.0.0/255.255.0.0"}), RouteSetItems(set));
}

TEST_F(RouteParse, RoutesBeyondTheLimitAreLeftOut)
{
    LogCapture log;
    std::string list;
    for (int i = 0; i < 40000; i++)
        list += "10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".0:255.255.255.0|";
    ASSERT_EQ(ZND_OK, Parse("<games><game><gid>757</gid><gsroute>" + list + "</gsroute><gsroute>" + list +
                            "</gsroute></game></games>"));
    EXPECT_EQ(32768u, Count());
    EXPECT_EQ(1u, log.Count("game list: 32768 routes taken, 47232 beyond them left out"));
}

TEST_F(RouteParse, EntitiesAreNotExpanded)
{
    // An internal entity must not be able to inject routes (or blow up memory).
    ASSERT_EQ(ZND_OK, Parse("<?xml version=\"1.0\"?><!DOCTYPE games [<!ENTITY r \"10.7.0.0:255.255.0.0\">]>"
                            "<games><game><gid>757</gid><gsroute>&r;|10.8.0.0:255.255.0.0</gsroute></game></games>"));
    EXPECT_EQ((std::set<std::string>{"10.8.0.0/255.255.0.0"}), RouteSetItems(set));
}

} // namespace

namespace {

TEST(XmlEntities, NestedEntitiesStayCheap)
{
    // Nine levels of ten references each: expanded, this would be 10^9 copies.
    std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE servers [<!ENTITY l0 \"198.51.100.1\">";
    for (int i = 1; i <= 9; i++) {
        xml += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; k++)
            xml += "&l" + std::to_string(i - 1) + ";";
        xml += "\">";
    }
    xml += "]><games><game><gid>757</gid><gsroute>&l9;|10.9.0.0:255.255.0.0</gsroute></game></games>";
    ZND_RouteHash set;
    ZND_RouteHashInit(&set);
    uint32_t rc = ZND_ParseLoginRouteDataOld(xml.data(), xml.size(), &set);
    if (rc == ZND_OK)   // the parser may also refuse the document outright
        EXPECT_EQ((std::set<std::string>{"10.9.0.0/255.255.0.0"}), RouteSetItems(set));
    else
        EXPECT_EQ(ZND_ERR_COMMON, rc);
    ZND_RouteHashClear(&set);
}

} // namespace
