#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>
#include "core/context.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"
#include "route/route_file.h"
#include "route/route_test_util.h"

namespace {

class RouteList : public ::testing::Test {
protected:
    void SetUp() override { ZND_ContextReset(); }
    void TearDown() override
    {
        if (!path_.empty())
            unlink(path_.c_str());
    }
    uint32_t Login(const char *json)
    {
        json_object *doc = json_tokener_parse(json);
        EXPECT_NE(nullptr, doc) << json;
        uint32_t rc = ZND_ParseLoginRouteFromJson(doc, &s);
        json_object_put(doc);
        return rc;
    }
    uint32_t Traffic(const char *json)
    {
        json_object *doc = json_tokener_parse(json);
        EXPECT_NE(nullptr, doc) << json;
        uint32_t rc = ZND_ParseTrafficRouteFromJson(doc, &s);
        json_object_put(doc);
        return rc;
    }
    std::string TempFile(const std::string &content)
    {
        char tmpl[] = "/tmp/route_list_XXXXXX";
        int fd = mkstemp(tmpl);
        EXPECT_GE(fd, 0);
        close(fd);
        path_ = tmpl;
        EXPECT_TRUE(ZND_TestWriteFile(path_, content));
        return path_;
    }
    // Set contents sorted: the walk order follows the hash, not the document.
    std::vector<std::string> Contents()
    {
        std::vector<std::string> v = SetContents(&s);
        std::sort(v.begin(), v.end());
        return v;
    }

    ScopedSet s;
    LogCapture log;
    std::string path_;
};

TEST_F(RouteList, LoginTakesOnlyTheFirstGame757)
{
    EXPECT_EQ(0u, Login(R"({"code":0,"version":"1.0.7","gamelist":[
        {"gid":100,"sroute":["9.9.9.0:255.255.255.0"]},
        {"sroute":["7.7.7.0:255.255.255.0"]},
        {"gid":757,"sroute":["1.2.3.4:255.255.255.255","10.0.0.0:255.0.0.0 extra words","1.2.3.4:255.255.255.255"]},
        {"gid":757,"sroute":["8.8.8.0:255.255.255.0"]}]})"));
    std::vector<std::string> want = {"1.2.3.4/255.255.255.255", "10.0.0.0/255.0.0.0"};
    EXPECT_EQ(want, Contents());
    EXPECT_STREQ("1.0.7", s.set.version);
}

TEST_F(RouteList, LoginAddsToWhatTheSetHolds)
{
    s.Add("5.5.5.0", "255.255.255.0");
    EXPECT_EQ(0u, Login(R"({"code":0,"version":"v","gamelist":[{"gid":757,"sroute":[]}]})"));
    EXPECT_EQ(std::vector<std::string>{"5.5.5.0/255.255.255.0"}, Contents());
}

TEST_F(RouteList, BadItemsAreSkippedWithAnErrorLine)
{
    EXPECT_EQ(0u, Login(R"({"code":0,"version":"v","gamelist":[{"gid":757,"sroute":[
        "10.0.0.0", null, ":255.0.0.0", "1.1.1.0:255.255.255.0", "1234567890123456:255.0.0.0",
        "2.2.2.0:", 42, "3.3.3.0:2555555555555555", "4.4.4.0:255.255.255.0"]}]})"));
    std::vector<std::string> want = {"1.1.1.0/255.255.255.0", "4.4.4.0/255.255.255.0"};
    EXPECT_EQ(want, Contents());
    EXPECT_EQ(6u, log.Count("[ZND_ERROR]  route item("));
    EXPECT_TRUE(log.Has("route item(42) invalid, skipped"));
}

TEST_F(RouteList, NonStringItemIsReadAsItsJsonText)
{
    // A number has no colon; an object's JSON text has one, but is no network either.
    EXPECT_EQ(0u, Login(R"({"code":0,"version":7,"gamelist":[{"gid":"757","sroute":[{"a":1}]}]})"));
    EXPECT_EQ(0u, RouteCount(&s));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  route item({ \"a\": 1 }) invalid, skipped  [line:"));
    EXPECT_STREQ("7", s.set.version);
}

TEST_F(RouteList, VersionKeepsItsFirst32Characters)
{
    EXPECT_EQ(0u, Login(R"({"code":0,"version":"0123456789abcdefghijklmnopqrstuvwxyz",
        "gamelist":[{"gid":757,"sroute":[]}]})"));
    EXPECT_EQ(0, memcmp("0123456789abcdefghijklmnopqrstuv", s.set.version, 32));
}

TEST_F(RouteList, LoginFailuresAddNothing)
{
    struct Case {
        const char *json;
        uint32_t rc;
        const char *line;
    } cases[] = {
        {R"({"code":3,"version":"v","gamelist":[{"gid":757,"sroute":["1.1.1.0:255.255.255.0"]}]})", 12,
         "http requese user account invalide"},
        {R"({"version":"v","gamelist":[]})", 2, "get code failed!"},
        {R"({"code":0,"gamelist":[{"gid":757,"sroute":["1.1.1.0:255.255.255.0"]}]})", 2, "get version failed!"},
        {R"({"code":0,"version":null,"gamelist":[]})", 2, "get version failed!"},
        {R"({"code":0,"version":"v"})", 2, "get game list failed!"},
        {R"({"code":0,"version":"v","gamelist":{"gid":757}})", 2, "get game list failed!"},
        {R"({"code":0,"version":"v","gamelist":[{"gid":100,"sroute":["1.1.1.0:255.255.255.0"]}]})", 2,
         "get vanto sroute list failed!"},
        {R"({"code":0,"version":"v","gamelist":[{"gid":757},{"gid":757,"sroute":["1.1.1.0:255.255.255.0"]}]})", 2,
         "get vanto sroute list failed!"},
        {R"({"code":0,"version":"v","gamelist":[{"gid":757,"sroute":"1.1.1.0:255.255.255.0"}]})", 2,
         "get vanto sroute list failed!"},
    };
    for (const auto &c : cases) {
        log.Clear();
        EXPECT_EQ(c.rc, Login(c.json)) << c.json;
        EXPECT_TRUE(log.Has(c.line)) << c.json;
        EXPECT_EQ(0u, RouteCount(&s)) << c.json;
    }
}

TEST_F(RouteList, TrafficTakesEveryGroupWithRanges)
{
    EXPECT_EQ(0u, Traffic(R"({"code":0,"version":"2.1","rules":[
        {"gid":1,"servers":[{"mrange":["9.9.9.0:255.255.255.0"]}]},
        {"gid":757,"servers":[
            {"mrange":["8.8.8.8:255.255.255.255","1.2.3.4:255.255.255.255"]},
            {"name":"no ranges"},
            {"mrange":[null,"1.2.3.4:255.255.255.255","10.0.0.0:255.0.0.0"]},
            {"mrange":"not a list"}]},
        {"gid":757,"servers":[{"mrange":["7.7.7.0:255.255.255.0"]}]}]})"));
    std::vector<std::string> want = {"1.2.3.4/255.255.255.255", "10.0.0.0/255.0.0.0", "8.8.8.8/255.255.255.255"};
    EXPECT_EQ(want, Contents());
    EXPECT_STREQ("2.1", s.set.version);
}

TEST_F(RouteList, TrafficFailures)
{
    EXPECT_EQ(2u, Traffic(R"({"code":0,"version":"v"})"));
    EXPECT_TRUE(log.Has("get rules failed!"));
    EXPECT_EQ(2u, Traffic(R"({"code":0,"version":"v","rules":[{"gid":757}]})"));
    EXPECT_TRUE(log.Has("get vanto servers list failed!"));
    EXPECT_EQ(2u, Traffic(R"({"code":0,"rules":[]})"));
    EXPECT_EQ(14u, Traffic(R"({"code":1,"version":"v","rules":[]})"));
    EXPECT_EQ(0u, RouteCount(&s));
}

TEST_F(RouteList, FilesMissingOrInvalid)
{
    EXPECT_EQ(ZND_ERR_OPEN_FILE, CFGI_ReadLoginRouteFromJsonFile("/nonexistent/gameList.conf", &s));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  read file /nonexistent/gameList.conf failed!  [line:"));
    EXPECT_EQ(ZND_ERR_OPEN_FILE, CFGI_ReadTrafficRouteFromJsonFile("/nonexistent/smartRoute.conf", &s));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  read json file: /nonexistent/smartRoute.conf failed!  [line:"));
    std::string bad = TempFile("{\"code\":0, \"version\":");
    EXPECT_EQ(ZND_ERR_OPEN_FILE, CFGI_ReadLoginRouteFromJsonFile(bad.c_str(), &s));
}

TEST_F(RouteList, FilesAreParsed)
{
    std::string login = TempFile(R"({"code":0,"version":"9","gamelist":[{"gid":757,"sroute":["1.1.1.0:255.255.255.0"]}]})");
    EXPECT_EQ(0u, CFGI_ReadLoginRouteFromJsonFile(login.c_str(), &s));
    std::string traffic = TempFile(R"({"code":2,"version":"9","rules":[]})");
    EXPECT_EQ(ZND_ERR_MAC_USED, CFGI_ReadTrafficRouteFromJsonFile(traffic.c_str(), &s));
    traffic = TempFile(R"({"code":0,"version":"9","rules":[{"gid":757,"servers":[{"mrange":["2.2.2.0:255.255.255.0"]}]}]})");
    EXPECT_EQ(0u, CFGI_ReadTrafficRouteFromJsonFile(traffic.c_str(), &s));
    std::vector<std::string> want = {"1.1.1.0/255.255.255.0", "2.2.2.0/255.255.255.0"};
    EXPECT_EQ(want, Contents());
}

} // namespace
