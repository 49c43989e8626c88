// The ping-based probes on real links, against resolver addresses that exist only in the sandbox.
#include <gtest/gtest.h>
#include "harness/probe_net.h"
#include "tunnel/probe.h"

namespace {

using ReachProbe = ProbeNet;

TEST_F(ReachProbe, WanAndTunnelThroughTheRightInterface)
{
    EXPECT_EQ(0, ZND_IsWanActive());   // no route anywhere yet
    ASSERT_EQ(0, ZND_TestSh("ip route add 114.114.115.115/32 via 198.18.2.2 dev wan0"));
    EXPECT_EQ(1, ZND_IsWanActive());
    EXPECT_EQ(1, ZND_IsTunActive("wan0"));
    EXPECT_EQ(0, ZND_IsTunActive("other0"));   // bound to a link that leads nowhere
    EXPECT_EQ(0, ZND_IsTunActive("nosuch0"));
    EXPECT_EQ(0, ZND_IsTunActive("wan0;true"));
    EXPECT_EQ(1, ZND_IsUrlActive("198.18.2.2", "wan0"));
    EXPECT_EQ(0, ZND_IsUrlActive("8.8.4.4", nullptr));
}

} // namespace
