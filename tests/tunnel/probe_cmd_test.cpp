// The ping commands of the reachability probes, with the shell faked.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "core/context.h"
#include "core/log.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "tunnel/probe.h"

namespace {

class ProbeCmd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        shell.SetDefaultStatus(FakeShell::Exit(1));
    }
    void TearDown() override { ZND_ContextReset(); }
    FakeShell shell;
};

TEST_F(ProbeCmd, CommandTexts)
{
    shell.On("ping", 0);
    EXPECT_EQ(1, ZND_IsUrlActive("198.51.100.7", nullptr));
    EXPECT_EQ(1, ZND_IsUrlActive("198.51.100.7", "eth0.2"));
    ASSERT_EQ(2u, shell.commands().size());
    EXPECT_EQ("ping -q -c 1 -W 1 198.51.100.7 > /dev/null 2>&1", shell.commands()[0]);
    EXPECT_EQ("ping -q -c 1 -W 1 198.51.100.7 -I eth0.2 > /dev/null 2>&1", shell.commands()[1]);
}

TEST_F(ProbeCmd, StatusDecides)
{
    shell.On("ping", FakeShell::Exit(1));
    EXPECT_EQ(0, ZND_IsUrlActive("198.51.100.7", nullptr));
    shell.On("ping", -1);
    EXPECT_EQ(0, ZND_IsUrlActive("198.51.100.7", "tun0"));
}

TEST_F(ProbeCmd, UnsafeAddressesAndNamesAreRefusedUnrun)
{
    LogCapture log;
    EXPECT_EQ(0, ZND_IsUrlActive(nullptr, nullptr));
    EXPECT_TRUE(log.Has("url is NULL"));
    for (const char *addr : {"", "1.2.4.8; reboot", "$(reboot)", "-I", "1.2.4.8 -f", "host.example",
                             "1.2.4", "1.2.4.8\n", "01.2.4.8x"})
        EXPECT_EQ(0, ZND_IsUrlActive(addr, nullptr)) << addr;
    for (const char *ifname : {"", "tun0;reboot", "-f", "a b", "tun0\n", "$(x)", "tun'0", "abcdefghijklmnop"})
        EXPECT_EQ(0, ZND_IsUrlActive("1.2.4.8", ifname)) << ifname;
    EXPECT_TRUE(shell.commands().empty());
    shell.On("ping", 0);
    EXPECT_EQ(1, ZND_IsUrlActive("1.2.4.8", "abcdefghijklmno"));   // 15 characters fit
    EXPECT_EQ(1, ZND_IsUrlActive("1.2.4.8", "wlan0-1_x.2"));
}

TEST_F(ProbeCmd, WanStopsAtFirstAnswer)
{
    shell.On("ping -q -c 1 -W 1 1.2.4.8 ", 0);
    EXPECT_EQ(1, ZND_IsWanActive());
    EXPECT_EQ(1u, shell.commands().size());
}

TEST_F(ProbeCmd, WanTriesEveryResolverInOrder)
{
    EXPECT_EQ(0, ZND_IsWanActive());
    std::vector<std::string> want;
    for (const char *r : {"1.2.4.8", "114.114.114.114", "114.114.115.115", "8.8.4.4", "8.8.8.8"})
        want.push_back(std::string("ping -q -c 1 -W 1 ") + r + " > /dev/null 2>&1");
    EXPECT_EQ(want, shell.commands());
}

TEST_F(ProbeCmd, TunnelProbeGoesThroughTheInterface)
{
    shell.On("114.114.115.115 -I tun0 ", 0);
    EXPECT_EQ(1, ZND_IsTunActive("tun0"));
    ASSERT_EQ(3u, shell.commands().size());
    for (const auto &c : shell.commands())
        EXPECT_NE(std::string::npos, c.find(" -I tun0 > /dev/null 2>&1")) << c;
    shell.Clear();
    EXPECT_EQ(0, ZND_IsTunActive("l2tp-vpn"));
    EXPECT_EQ(5u, shell.commands().size());
}

} // namespace
