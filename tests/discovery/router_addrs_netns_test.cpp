// Interface address look-ups on real links.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include "discovery/router_addrs.h"
#include "harness/probe_net.h"
#include "harness/sandbox.h"

namespace {

using ReachProbe = ProbeNet;

TEST_F(ReachProbe, InterfaceAddresses)
{
    char out[16];
    ZND_GetIfAddr("wan0", out);
    EXPECT_STREQ("198.18.2.1", out);
    ZND_GetIfNetmask("wan0", out);
    EXPECT_STREQ("255.255.255.0", out);
    ZND_GetIfAddr("other0", out);   // up, without an address
    EXPECT_STREQ("0.0.0.0", out);
    ZND_GetIfAddr("nosuch0", out);
    EXPECT_STREQ("0.0.0.0", out);
    ZND_GetIfNetmask("nosuch0", out);
    EXPECT_STREQ("0.0.0.0", out);
    ZND_GetIfAddr("a-name-much-longer-than-ifnamsiz", out);
    EXPECT_STREQ("0.0.0.0", out);
}

// Every address of the device counts, a labelled secondary one too.
TEST_F(ReachProbe, WanAddressesFromTheNetworkConfig)
{
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network", "config interface 'lan'\n\toption ifname 'wan0'\n\n"
                                                         "config interface 'wan'\n\toption ifname 'wan0'\n\n"
                                                         "config interface 'wwan'\n\toption ifname 'nosuch0'\n"));
    ASSERT_EQ(0, ZND_TestSh("ip addr add 198.18.9.1/16 dev wan0 label wan0:1"));
    ZND_RouterIface wan, wwan;
    ZND_GetWanAddrs(&wan, &wwan);
    ASSERT_EQ(2, wan.count);
    EXPECT_STREQ("198.18.2.1", wan.addrs[0].ip);
    EXPECT_EQ(inet_addr("255.255.255.0"), wan.addrs[0].mask);
    EXPECT_STREQ("198.18.9.1", wan.addrs[1].ip);
    EXPECT_EQ(inet_addr("255.255.0.0"), wan.addrs[1].mask);
    EXPECT_EQ(0, wwan.count);
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network", "config interface 'wan'\n\toption proto 'dhcp'\n"));
    ZND_GetWanAddrs(&wan, &wwan);   // no ifname options at all
    EXPECT_EQ(0, wan.count);
    EXPECT_EQ(0, wwan.count);
}

} // namespace
