// The router build in the simulated router: the daemon on ubusd, driven with the real ubus tool.
// ubusd going away in the middle of an accelerated session, the real uci tool and the daemon
// reading each other's commits, and the replies compared with the host build's, method by method.
#include <cctype>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "harness/sandbox.h"
#include "router_session.h"

namespace e2e {
namespace {

bool Has(const std::string &text, const std::string &what)
{
    return text.find(what) != std::string::npos;
}

TEST_F(RouterSession, UbusdRestartedInTheMiddleOfASessionLosesNothing)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    const std::string pid = ZND_TestReadFile(kState + "/run/daemon.pid");
    const Reply before = Rpc("GetStatus");
    const std::vector<std::string> login = Routes(252), traffic = Routes(251);
    const size_t services = ServicesLog().size();
    const std::string keylog = KeyLog();

    ASSERT_EQ(0, Sim("ubusd kill"));
    EXPECT_NE(0, Rpc("GetStatus").exitCode) << "nobody answers while ubusd is away";
    ASSERT_EQ(0, Sim("ubusd start"));
    // The daemon is back on the bus within 2 s of ubusd's start, and answers.
    EXPECT_EQ(0, Sim("ubus -t 2 wait_for zunaro")) << DaemonLog();
    Reply after = Rpc("GetStatus");
    ASSERT_EQ(0, after.exitCode) << after.text;

    // Same process, same session, same tunnel and routes; nothing was dialed or logged anew.
    EXPECT_EQ(pid, ZND_TestReadFile(kState + "/run/daemon.pid"));
    EXPECT_EQ(before.text, after.text);
    EXPECT_EQ("ACC_OK", after.Status());
    EXPECT_TRUE(LinkExists("tun0"));
    EXPECT_EQ(login, Routes(252));
    EXPECT_EQ(traffic, Routes(251));
    EXPECT_EQ(services, ServicesLog().size());
    EXPECT_EQ(keylog, KeyLog());
    EXPECT_TRUE(Has(DaemonLog(), "[ZND_ERROR]  ubus connection lost, reconnecting"));
    EXPECT_TRUE(Has(DaemonLog(), "[ZND_INFO]  ubus reconnected, objects added again"));

    // And the session goes on over the new connection.
    EXPECT_EQ("LOGIN_OK", Rpc("AccStop").Status());
    EXPECT_FALSE(LinkExists("tun0"));
    EXPECT_TRUE(Routes(251).empty());
}

TEST_F(RouterSession, UciToolAndDaemonReadEachOthersCommits)
{
    const std::string discover = ZND_SIM_DIR "/router lan /usr/bin/python3 " + kState + "/lib/lanclient.py discover";
    // What the uci tool commits is what the daemon tells the LAN; what it only stages is not.
    ASSERT_EQ(0, InRouter("uci set wireless.wifi.ssid='Cafe \"Zunaro\"' && uci commit wireless"));
    ASSERT_EQ(0, InRouter("uci set network.wan.macaddr='02:5a:4e:00:00:99'"));
    std::string found = ZND_TestShOut(discover + " 2>&1");
    EXPECT_TRUE(Has(found, "\"ssid\": \"Cafe \\\"Zunaro\\\"\", \"mac\": \"02:5a:4e:00:00:02\"")) << found;
    ASSERT_EQ(0, InRouter("uci commit network"));
    found = ZND_TestShOut(discover + " 2>&1");
    EXPECT_TRUE(Has(found, "\"mac\": \"02:5a:4e:00:00:99\"")) << found;

    // What the daemon commits for the tunnel reads right with uci get.
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    std::string remote = InRouterOut("uci get openvpn.zunaro.remote");
    EXPECT_TRUE(remote == "203.0.113.10 1194\n" || remote == "203.0.113.11 1194\n" || remote == "203.0.113.12 1194\n")
        << remote;
    EXPECT_EQ("tun\n", InRouterOut("uci get openvpn.zunaro.dev"));
    EXPECT_EQ("02:5a:4e:00:00:99\n", InRouterOut("uci get network.wan.macaddr")) << "the rest is untouched";
    EXPECT_EQ("", InRouterOut("uci changes")) << "nothing left staged";
}

// --- the host build and the router build answer alike ----------------------------------------------

const std::string kRouterTool = ZND_SIM_DIR "/router";

// A cloud whose clock stands still and whose nodes differ in level, so that two sessions get the
// same account data and the same node order whatever the pings measure.
std::string SteadyScenario()
{
    std::string path = "/tmp/steady-scenario.json";
    ZND_TestSh("/usr/bin/python3 -c 'import json, sys\n"
               "s = json.load(open(sys.argv[1]))\n"
               "for a in s.get(\"accounts\", {}).values(): a[\"server_time\"] = \"2030-01-01_12:00:00\"\n"
               "for i, n in enumerate(s.get(\"nodes\", [])): n[\"level\"] = i\n"
               "json.dump(s, open(sys.argv[2], \"w\"))' " ZND_SIM_DIR "/data/demo-scenario.json " + path);
    return path;
}

struct Step {
    std::string request;   // JSON of the "rpc" message
    std::string waitFor;   // before the request: poll GetStatus until this state ("" for none)
};

// Every method of the table, refusals and protocol errors, through a whole session.
const std::vector<Step> kSession = {
    {R"({"method": "GetStatus", "id": 1})", ""},
    {R"({"method": "GetAccState", "id": 2})", ""},
    {R"({"method": "AccStart", "params": ["1", "0", "", "1"], "id": 3})", ""},
    {R"({"method": "Login", "params": ["demo"], "id": 4})", ""},
    {R"({"method": "Login", "params": ["demo", "zunaro-demo"], "id": 5})", ""},
    {R"({"method": "GetNodeList", "id": 6})", ""},
    {R"({"method": "GetPingTime", "id": 7})", ""},
    {R"({"method": "GetAccState", "id": 8})", ""},
    {R"({"method": "DebugOn", "id": 9})", ""},
    {R"({"method": "AccStart", "params": ["1", "0", "", "1"], "id": 10})", ""},
    {R"({"method": "GetStatus", "id": 11})", "ACC_OK"},
    {R"({"method": "GetAccResult", "id": 12})", ""},
    {R"({"method": "GetAccState", "id": 13})", ""},
    {R"({"method": "NetDevChange", "params": ["lan", "up"], "id": 14})", ""},
    {R"({"method": "Login", "params": ["demo", "zunaro-demo"], "id": 15})", ""},
    {R"({"method": "DebugOff", "id": 16})", ""},
    {R"({"method": "AccStop", "id": 17})", ""},
    {R"({"method": "FlushNodeList", "id": 18})", ""},
    {R"({"method": "GetNodeList", "id": 19})", ""},
    {R"({"method": "ForceOffLine", "id": 20})", ""},
    {R"({"method": "Logout", "id": 21})", ""},
    {R"({"method": "logout", "id": 22})", ""},
    {R"({"id": 23})", ""},
    {R"({"method": "GetStatus", "params": "x", "id": 24})", ""},
    {R"({})", ""},
    {R"({"method": "GetStatus", "id": 5000000000})", ""},
};

// Latencies are measured anew in each session; everything else must match.
std::string WithoutLatency(std::string text)
{
    const std::string key = "\"ping\": ";
    for (size_t pos = text.find(key); pos != std::string::npos; pos = text.find(key, pos + 1)) {
        size_t digits = pos + key.size(), end = digits;
        while (end < text.size() && isdigit((unsigned char)text[end]))
            end++;
        text.replace(digits, end - digits, "<ms>");
    }
    return text;
}

// Runs the session on a build in a fresh simulated router; the reply text of every step.
std::vector<std::string> RunSession(const std::string &build, const std::string &client)
{
    std::vector<std::string> replies;
    std::string sim = "ZUNARO_BUILD=" + build + " " + kRouterTool;
    if (ZND_TestSh(sim + " up --scenario " + SteadyScenario() + " >/tmp/cmp-up.log 2>&1") != 0 ||
        ZND_TestSh(sim + " daemon start >>/tmp/cmp-up.log 2>&1") != 0) {
        ADD_FAILURE() << build << ": the sim did not come up\n" << ZND_TestReadFile("/tmp/cmp-up.log");
        ZND_TestSh(sim + " down >/dev/null 2>&1");
        return replies;
    }
    auto call = [&](const std::string &json) {
        return ZND_TestShOut(sim + " " + client + " call zunaro rpc " + ZND_TestQuote(json) + " 2>/dev/null");
    };
    for (const Step &step : kSession) {
        if (!step.waitFor.empty()) {
            EXPECT_TRUE(WaitFor(45000, [&] { return Has(call(R"({"method": "GetStatus"})"), step.waitFor); }))
                << build << ": no " << step.waitFor;
        }
        replies.push_back(WithoutLatency(call(step.request)));
    }
    EXPECT_EQ(0, ZND_TestSh(sim + " daemon stop >/dev/null 2>&1"));
    EXPECT_EQ(0, ZND_TestSh(sim + " down >/dev/null 2>&1"));
    return replies;
}

TEST(BusReplies, UbusOnTheRouterBuildPrintsWhatZunaroctlPrintsOnTheHostBuild)
{
    const std::string host = ZND_HOST_BUILD_DIR;
    if (!ZND_TestFileExists(host + "/daemon/zunarod") || !ZND_TestFileExists(host + "/tools/zunaroctl/zunaroctl"))
        GTEST_SKIP() << "no host build in " << host << " to compare with (scripts/test builds it first)";
    std::vector<std::string> expected = RunSession(host, "ctl");
    std::vector<std::string> got = RunSession(ZND_BUILD_DIR, "ubus");
    ASSERT_EQ(kSession.size(), expected.size());
    ASSERT_EQ(kSession.size(), got.size());
    for (size_t i = 0; i < kSession.size(); i++) {
        EXPECT_FALSE(expected[i].empty()) << kSession[i].request;
        EXPECT_EQ(expected[i], got[i]) << kSession[i].request;
    }
}

} // namespace
} // namespace e2e
