// The daemon in the simulated router on ubusd, driven with the real ubus tool.
// ubusd going away in the middle of an accelerated session, the real uci tool and the daemon
// reading each other's commits.
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

} // namespace
} // namespace e2e
