// The delayed OpenVPN start through the real shell: it runs two seconds after the up, and a stop
// in the meantime keeps it from running at all.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
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

    AccNodeServer node = {};
};

std::string MountNamespace(const std::string &pid)
{
    char buf[64] = "";
    ssize_t n = readlink(("/proc/" + pid + "/ns/mnt").c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, (size_t)n) : "";
}

// Whether the delayed start of this sandbox still waits or runs: a process of this mount namespace
// whose command names the start ticket (the shell that waits) or the init script (which the shell
// may have become).
bool DelayedStartPending()
{
    std::string own = MountNamespace("self");
    bool pending = false;
    DIR *dir = opendir("/proc");
    while (struct dirent *e = dir ? readdir(dir) : nullptr) {
        if (atoi(e->d_name) <= 0 || MountNamespace(e->d_name) != own)
            continue;
        std::string cmd = ZND_TestReadFile(std::string("/proc/") + e->d_name + "/cmdline");
        pending = pending || cmd.find(ZND_PATH_OPENVPN_START_TICKET) != std::string::npos ||
                  cmd.find(ZND_PATH_INIT_OPENVPN) != std::string::npos;
    }
    if (dir)
        closedir(dir);
    return pending;
}

// Waits, up to 20 s, for the delayed start to be over, whatever it did.
bool DelayedStartEnds()
{
    for (int i = 0; i < 400 && DelayedStartPending(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !DelayedStartPending();
}

TEST_F(OpenvpnStart, RunsTwoSecondsAfterTheUp)
{
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnUp(&g_znd.client, &node));
    EXPECT_TRUE(ZND_TestFileExists(ZND_PATH_OPENVPN_START_TICKET));
    ASSERT_TRUE(DelayedStartEnds());
    EXPECT_EQ("start\n", ZND_TestReadFile(kMarker));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST_F(OpenvpnStart, StopBeforeTheDelayKeepsItFromRunning)
{
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnUp(&g_znd.client, &node));
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnDown());
    EXPECT_FALSE(ZND_TestFileExists(ZND_PATH_OPENVPN_START_TICKET));
    ASSERT_TRUE(DelayedStartEnds());
    EXPECT_EQ("stop\n", ZND_TestReadFile(kMarker));
}

} // namespace
