// The cloud client against the mock cloud service, over real curl and HTTP on loopback.
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <string>
#include "cloud/cloud_route.h"
#include "cloud/exchange.h"
#include "cloud/login.h"
#include "cloud/node_list.h"
#include "core/build_config.h"
#include "core/context.h"
#include "core/paths.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"
#include "mock_cloud.h"
#include "route_set_util.h"

namespace {

const char kHostilePass[] = "p'w $(touch /tmp/pwned) `id` ;x";

std::string Scenario(const std::string &servers = "{}", int onlines = 0)
{
    return std::string(R"({
  "accounts": {
    "alice": {"password": "p'w $(touch /tmp/pwned) `id` ;x", "type": 100, "pay_state": 1,
              "expire": "2025-06-30_23:59:59", "server_time": "2025-06-01_08:00:00",
              "public_ip": "203.0.113.7", "onlines": )") +
           std::to_string(onlines) + R"(, "force_offline_code": 0},
    "bob": {"password": "b", "force_offline_code": 2}
  },
  "nodes": [
    {"id": 1, "serverip": "198.51.100.1", "servername": "slow-level", "level": 5, "openvport": 1194},
    {"id": 2, "serverip": "198.51.100.2", "servername": "best", "level": 0, "openvport": 1195,
     "openvpndev": "tun", "protocal": 1},
    {"id": 3, "serverip": "198.51.100.3", "servername": "twitch", "level": 0, "servermemo": "update/twitch"}
  ],
  "games": [
    {"gid": 100, "routes": ["10.100.0.0:255.255.0.0"]},
    {"gid": 757, "routes": ["203.0.113.0:255.255.255.0", "198.51.100.0:255.255.255.0"]}
  ],
  "servers": )" + servers + "}";
}

class MockCloudTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        ASSERT_TRUE(MockCloudPrepareNetwork());
        strcpy(client.uname, "alice");
        strcpy(client.upass, kHostilePass);
        strcpy(client.mad, "00:11:22:33:44:55");
        client.gid = 757;
        ZND_RouteHashInit(&routes);
    }
    void TearDown() override
    {
        mock.Stop();
        ZND_RouteHashClear(&routes);
        ZND_ContextReset();
    }
    bool StartAll() { return mock.Start({MockCloud::PrimaryAddr(), MockCloud::SecondaryAddr(), MockCloud::FallbackAddr()}); }
    size_t KeyLogCount(const std::string &text)
    {
        std::string log = ZND_TestReadFile(ZND_PATH_KEY_LOG);
        size_t n = 0;
        for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1))
            n++;
        return n;
    }
    std::vector<std::string> ServersAsked(const std::string &path)
    {
        std::vector<std::string> out;
        for (const auto &r : mock.Requests())
            if (r.path == path)
                out.push_back(r.server);
        return out;
    }
    MockCloud mock;
    ClientRecord client = {};
    ZND_RouteHash routes;
};

TEST_F(MockCloudTest, LoginAcceptedWithCredentialsIntact)
{
    mock.SetScenario(Scenario());
    ASSERT_TRUE(StartAll());
    LogCapture log;
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(13, client.ucVipType);
    EXPECT_EQ(1, client.ucPayState);
    EXPECT_EQ(0, client.ucAccTunState);
    EXPECT_STREQ("2025-06-30_23:59:59", client.ucExprtData);
    EXPECT_STREQ("2025-06-01_08:00:00", client.ucSvrCurTime);
    EXPECT_STREQ("203.0.113.7", client.ucPbNetIp);

    auto reqs = mock.Requests();
    ASSERT_EQ(1u, reqs.size());
    EXPECT_EQ("127.0.0.2:80", reqs[0].server);
    EXPECT_EQ("/api/softlogin", reqs[0].path);
    EXPECT_EQ("alice", reqs[0].user);
    EXPECT_EQ(kHostilePass, reqs[0].password);
    EXPECT_EQ("token=3f7a1c9e5b2d4086a1e3c5f7092b4d6e&gid=757", reqs[0].body);
    EXPECT_FALSE(ZND_TestFileExists("/tmp/pwned"));
    EXPECT_FALSE(log.Has("$(touch"));   // the password never reaches the log
}

// curl takes the credentials on its standard input, yet sends them exactly as it does those given
// on its command line: the same Authorization header, whatever the password holds.
TEST_F(MockCloudTest, CredentialsArriveAsFromCurlsCommandLine)
{
    mock.SetScenario(Scenario());
    ASSERT_TRUE(mock.Start({MockCloud::PrimaryAddr()}));
    const char *passwords[] = {kHostilePass,       "back\\slash \"quoted\" \\\"", "line1\nline2\r\n",
                               "tab\there\vv",     "x\"\nurl = \"file:///etc/passwd", "\\n\\t\\",
                               "user:with:colons", ""};
    strcpy(client.uname, "o\"ne\\il");
    for (const char *pass : passwords) {
        strcpy(client.upass, pass);
        char *raw = nullptr;
        size_t len = 0;
        ZND_ClientTalkToServerOld(&client, MockCloud::PrimaryAddr(), "/api/softlogin", &raw, &len);
        free(raw);
        std::string credentials = std::string(client.uname) + ":" + pass;
        ASSERT_EQ(0, ZND_TestSh("curl -s -m 10 -u " + ZND_TestQuote(credentials) +
                                " -d 'token=3f7a1c9e5b2d4086a1e3c5f7092b4d6e&gid=757' "
                                "'127.0.0.2/api/softlogin' -o /dev/null"));
        auto reqs = mock.Requests();
        ASSERT_LE(2u, reqs.size());
        const MockCloud::Request &daemon = reqs[reqs.size() - 2], &command_line = reqs.back();
        EXPECT_EQ(client.uname, daemon.user) << pass;
        EXPECT_EQ(pass, daemon.password);
        EXPECT_NE("", daemon.authorization);
        EXPECT_EQ(command_line.authorization, daemon.authorization) << pass;
        EXPECT_EQ(command_line.path, daemon.path);
        EXPECT_EQ(command_line.body, daemon.body);
    }
}

TEST_F(MockCloudTest, LoginRefusedByEveryServer)
{
    mock.SetScenario(Scenario());
    ASSERT_TRUE(StartAll());
    strcpy(client.upass, "wrong");
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(0, client.ucVipType);
    EXPECT_EQ((std::vector<std::string>{"127.0.0.2:80", "127.0.0.3:80", MockCloud::FallbackAddr() + ":80"}),
              ServersAsked("/api/softlogin"));
    EXPECT_EQ(0u, KeyLogCount("connect to server failed"));
}

TEST_F(MockCloudTest, InUseElsewhereThenForcedOffline)
{
    mock.SetScenario(Scenario("{}", 1));
    ASSERT_TRUE(StartAll());
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(1, client.ucAccTunState);
    ASSERT_EQ(ZND_OK, ZND_UserForceOfflineAccTunnel(&client, nullptr));
    EXPECT_EQ(0, client.ucAccTunState);
    auto reqs = mock.Requests();
    ASSERT_EQ(2u, reqs.size());
    EXPECT_EQ("/api/forceoffline", reqs[1].path);
    EXPECT_EQ("mad=00:11:22:33:44:55&gid=757", reqs[1].body);
    // The service has let go of the other device.
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(0, client.ucAccTunState);

    // An account whose device id is in use is refused with 15 by every server.
    strcpy(client.uname, "bob");
    strcpy(client.upass, "b");
    client.ucAccTunState = 1;
    EXPECT_EQ(ZND_ERR_MAC_USED, ZND_UserForceOfflineAccTunnel(&client, nullptr));
    EXPECT_EQ(1, client.ucAccTunState);
    EXPECT_EQ(3u, ServersAsked("/api/forceoffline").size() - 1);
}

TEST_F(MockCloudTest, FailoverToSecondAndThirdServer)
{
    // Primary unreachable (nothing listens), secondary refuses: the fallback answers.
    mock.SetScenario(Scenario(R"({"127.0.0.3": {"mode": "refuse"}})"));
    ASSERT_TRUE(mock.Start({MockCloud::SecondaryAddr(), MockCloud::FallbackAddr()}));
    LogCapture log;
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(13, client.ucVipType);
    EXPECT_EQ(1u, KeyLogCount("]: connect to server failed, network error, code: 11\n"));
    EXPECT_EQ(1u, log.Count("tolk server cmd(curl -s -m 10 --retry 3 --retry-max-time 3 -u 'alice:***'"));
    EXPECT_EQ((std::vector<std::string>{"127.0.0.3:80", MockCloud::FallbackAddr() + ":80"}),
              ServersAsked("/api/softlogin"));

    // The next walk starts at the server that answered last, and goes round the list from there.
    mock.SetScenario(Scenario());
    ASSERT_EQ(ZND_OK, ZND_UserForceOfflineAccTunnel(&client, nullptr));
    EXPECT_EQ((std::vector<std::string>{MockCloud::FallbackAddr() + ":80"}), ServersAsked("/api/forceoffline"));
    mock.SetScenario(Scenario(R"({"127.0.0.3": {"mode": "refuse"}})"));
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(1u, KeyLogCount("connect to server failed, network error, code: 11"));
    mock.SetScenario(Scenario(R"({")" + MockCloud::FallbackAddr() + R"(": {"mode": "refuse"}})"));
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ((std::vector<std::string>{"127.0.0.3:80", MockCloud::FallbackAddr() + ":80",
                                        MockCloud::FallbackAddr() + ":80", MockCloud::FallbackAddr() + ":80",
                                        "127.0.0.3:80"}),
              ServersAsked("/api/softlogin"));
    EXPECT_EQ(2u, KeyLogCount("connect to server failed, network error, code: 11"));
}

TEST_F(MockCloudTest, NoServerReachable)
{
    ASSERT_TRUE(mock.Start({"127.0.0.9"}));
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_GetAccNodes(&client, g_znd.nodes));
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_GetCloudLoginRoute(&client, &routes));
    EXPECT_EQ(9u, KeyLogCount("connect to server failed, network error, code: 11"));
    EXPECT_TRUE(mock.Requests().empty());
}

TEST_F(MockCloudTest, NodeListAfterBrokenReplies)
{
    mock.SetScenario(Scenario(R"({"127.0.0.2": {"paths": {"/api/cfgcontrol": "malformed"}},
                                  "127.0.0.3": {"paths": {"/api/cfgcontrol": "truncated"}}})"));
    ASSERT_TRUE(StartAll());
    ASSERT_EQ(ZND_OK, ZND_GetAccNodes(&client, g_znd.nodes));
    EXPECT_EQ(3u, ServersAsked("/api/cfgcontrol").size());
    // Nothing answers pings here: level, then memo decide.
    EXPECT_STREQ("best", g_znd.nodes[0].cSvrName);
    EXPECT_EQ(1195u, g_znd.nodes[0].ulOpenVpnPort);
    EXPECT_STREQ("tun", g_znd.nodes[0].cOpenVpnDev);
    EXPECT_STREQ("slow-level", g_znd.nodes[1].cSvrName);
    EXPECT_STREQ("twitch", g_znd.nodes[2].cSvrName);
    EXPECT_EQ(0u, g_znd.nodes[3].id);
}

TEST_F(MockCloudTest, LoginRoutesAfterEmptyReply)
{
    mock.SetScenario(Scenario(R"({"127.0.0.2": {"mode": "empty"}})"));
    ASSERT_TRUE(StartAll());
    ASSERT_EQ(ZND_OK, ZND_GetCloudLoginRoute(&client, &routes));
    EXPECT_EQ((std::set<std::string>{"203.0.113.0/255.255.255.0", "198.51.100.0/255.255.255.0"}),
              RouteSetItems(routes));
    EXPECT_EQ(2u, ServersAsked("/api/gamelist").size());
}

// Every way of failing, against the primary only.
struct FailureCase {
    const char *mode;
    uint32_t login, force_offline, nodes, games;
};

class MockCloudFailure : public MockCloudTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(MockCloudFailure, MapsToResultCodes)
{
    const FailureCase &fc = GetParam();
    g_znd.cloudServers[1] = nullptr;   // one server is enough to see the mapping
    mock.SetScenario(Scenario(std::string(R"({"127.0.0.2": {"mode": ")") + fc.mode + "\"}}"));
    ASSERT_TRUE(mock.Start({MockCloud::PrimaryAddr()}));
    EXPECT_EQ(fc.login, ZND_UserLogin(&client, nullptr)) << fc.mode;
    EXPECT_EQ(fc.force_offline, ZND_UserForceOfflineAccTunnel(&client, nullptr)) << fc.mode;
    EXPECT_EQ(fc.nodes, ZND_GetAccNodes(&client, g_znd.nodes)) << fc.mode;
    EXPECT_EQ(fc.games, ZND_GetCloudLoginRoute(&client, &routes)) << fc.mode;
    size_t n = 0;
    RouteSetItems(routes, &n);
    EXPECT_EQ(fc.games == ZND_OK ? 2u : 0u, n);
    int filled = 0;
    while (filled < ZND_NODE_TABLE_SIZE && g_znd.nodes[filled].id != 0)
        filled++;
    EXPECT_EQ(fc.nodes == ZND_OK ? 3 : 0, filled);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, MockCloudFailure,
    ::testing::Values(FailureCase{"normal", ZND_OK, ZND_OK, ZND_OK, ZND_OK},
                      FailureCase{"empty", ZND_ERR_COMMON, ZND_ERR_OPEN_FILE, ZND_ERR_COMMON, ZND_ERR_COMMON},
                      FailureCase{"error", ZND_ERR_USER_ACCOUNT, ZND_ERR_OPEN_FILE, ZND_ERR_COMMON, ZND_ERR_COMMON},
                      FailureCase{"malformed", ZND_ERR_USER_ACCOUNT, ZND_ERR_OPEN_FILE, ZND_ERR_COMMON, ZND_ERR_COMMON},
                      FailureCase{"truncated", ZND_OK, ZND_ERR_OPEN_FILE, ZND_ERR_COMMON, ZND_ERR_COMMON},
                      FailureCase{"cut", ZND_ERR_SERVER_NETWORK, ZND_ERR_SERVER_NETWORK, ZND_ERR_SERVER_NETWORK,
                                  ZND_ERR_SERVER_NETWORK},
                      FailureCase{"close", ZND_ERR_SERVER_NETWORK, ZND_ERR_SERVER_NETWORK, ZND_ERR_SERVER_NETWORK,
                                  ZND_ERR_SERVER_NETWORK},
                      FailureCase{"refuse", ZND_ERR_USER_ACCOUNT, ZND_ERR_USER_ACCOUNT, ZND_ERR_NODE_CONFIG,
                                  ZND_ERR_COMMON}),
    [](const ::testing::TestParamInfo<FailureCase> &p) { return std::string(p.param.mode); });

TEST_F(MockCloudTest, SlowServerTimesOutAndTheNextAnswers)
{
    // Only the login goes to the slow server: it costs curl's full 10 seconds.
    mock.SetScenario(Scenario(R"({"127.0.0.2": {"mode": "slow", "delay": 13}})"));
    ASSERT_TRUE(StartAll());
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(took, 9.5);
    // curl gave up before the answer came (else the first server would have answered, late).
    EXPECT_EQ(1u, KeyLogCount("connect to server failed, network error, code: 11"));
    EXPECT_EQ((std::vector<std::string>{"127.0.0.2:80", "127.0.0.3:80"}), ServersAsked("/api/softlogin"));

    // The requests of the rest of a Login do not wait for the slow server again.
    t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(ZND_OK, ZND_GetAccNodes(&client, g_znd.nodes));
    ASSERT_EQ(ZND_OK, ZND_GetCloudLoginRoute(&client, &routes));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 9.0);
    EXPECT_EQ((std::vector<std::string>{"127.0.0.3:80"}), ServersAsked("/api/cfgcontrol"));
    EXPECT_EQ((std::vector<std::string>{"127.0.0.3:80"}), ServersAsked("/api/gamelist"));
}

} // namespace
