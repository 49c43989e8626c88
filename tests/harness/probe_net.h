// Resolver addresses reachable only inside the sandbox, through the link "wan0" (198.18.2.1/24)
// to the namespace "dns" whose kernel answers pings for 198.18.2.2, 114.114.115.115 and 8.8.8.8,
// and the link "other0", up without an address, that leads nowhere.
#pragma once
#include <gtest/gtest.h>
#include "harness/context_reset.h"
#include "harness/sandbox.h"

class ProbeNet : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        ASSERT_EQ(0, ZND_TestSh("set -e; ip netns add dns; ip link add wan0 type veth peer name wan1;"
                                "ip link set wan1 netns dns; ip addr add 198.18.2.1/24 dev wan0; ip link set wan0 up;"
                                "ip link add other0 type veth peer name other1; ip link set other0 up;"
                                "ip netns exec dns ip link set lo up; ip netns exec dns ip addr add 198.18.2.2/24 dev wan1;"
                                "ip netns exec dns ip link set wan1 up;"
                                "ip netns exec dns ip addr add 114.114.115.115/32 dev lo;"
                                "ip netns exec dns ip addr add 8.8.8.8/32 dev lo"));
    }
    void TearDown() override { ZND_ContextReset(); }
};
