// Interface address look-ups on real links.
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

TEST_F(ReachProbe, WanAddressesFromTheNetworkConfig)
{
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network", "config interface 'lan'\n\toption ifname 'wan0'\n\n"
                                                         "config interface 'wan'\n\toption ifname 'wan0'\n\n"
                                                         "config interface 'wwan'\n\toption ifname 'nosuch0'\n"));
    char wan[16] = "x", wwan[16] = "x";
    ZND_GetWanAddrs(wan, wwan);
    EXPECT_STREQ("198.18.2.1", wan);
    EXPECT_STREQ("", wwan);
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network", "config interface 'wan'\n\toption proto 'dhcp'\n"));
    ZND_GetWanAddrs(wan, wwan);   // no ifname options at all
    EXPECT_STREQ("", wan);
    EXPECT_STREQ("", wwan);
}

} // namespace
