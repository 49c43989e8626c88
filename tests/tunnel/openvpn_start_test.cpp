// The delayed OpenVPN start through the real shell: it runs two seconds after the up, and a stop
// in the meantime keeps it from running at all.
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include "core/context.h"
#include "core/paths.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/sandbox.h"
#include "tunnel/driver.h"
#include "tunnel/openvpn.h"

namespace {

const char kMarker[] = "/tmp/openvpn-init.log";

class OpenvpnStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        ASSERT_TRUE(ZND_TestWriteFile("/etc/config/openvpn", "config openvpn 'zunaro'\n\toption dev 'tun'\n"));
        ASSERT_EQ(0, ZND_TestSh("mkdir -p /etc/init.d"));
        ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_INIT_OPENVPN, std::string("#!/bin/sh\necho \"$1\" >> ") + kMarker + "\n",
                                      0755));
        snprintf(g_znd.client.uname, sizeof g_znd.client.uname, "demo");
        snprintf(g_znd.client.upass, sizeof g_znd.client.upass, "pass");
        node.id = 1;
        snprintf(node.cSvrIpv4, sizeof node.cSvrIpv4, "203.0.113.10");
        snprintf(node.cOpenVpnDev, sizeof node.cOpenVpnDev, "tun");
        node.ulOpenVpnPort = 1194;
    }
    void TearDown() override { ZND_ContextReset(); }

    static void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    AccNodeServer node = {};
};

TEST_F(OpenvpnStart, RunsTwoSecondsAfterTheUp)
{
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnUp(&g_znd.client, &node));
    EXPECT_TRUE(ZND_TestFileExists(ZND_PATH_OPENVPN_START_TICKET));
    Sleep(1500);
    EXPECT_EQ("", ZND_TestReadFile(kMarker));
    Sleep(1500);
    EXPECT_EQ("start\n", ZND_TestReadFile(kMarker));
}

TEST_F(OpenvpnStart, StopBeforeTheDelayKeepsItFromRunning)
{
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnUp(&g_znd.client, &node));
    Sleep(500);
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnDown());
    EXPECT_FALSE(ZND_TestFileExists(ZND_PATH_OPENVPN_START_TICKET));
    Sleep(2500);
    EXPECT_EQ("stop\n", ZND_TestReadFile(kMarker));
}

} // namespace
