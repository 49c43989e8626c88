// The device identity from a real interface: busybox ifconfig in the shell pipeline, an eth1 with a
// known MAC in the test's own network namespace, the userinfo package in /etc/config.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>
#include "config/account.h"
#include "core/result.h"
#include "harness/sandbox.h"

namespace {

const char *FindBusybox()
{
    for (const char *path : {"/bin/busybox", "/usr/bin/busybox", "/sbin/busybox"})
        if (access(path, X_OK) == 0)
            return path;
    return nullptr;
}

std::string Upper(std::string s)
{
    for (char &c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

TEST(MacSandbox, SettingsLoaderReadsTheMacOfEth1)
{
    const char *busybox = FindBusybox();
    if (!busybox)
        GTEST_SKIP() << "busybox is not installed";
    ASSERT_EQ(0, ZND_TestSh(std::string("mkdir -p /tmp/bin && ln -sf ") + busybox + " /tmp/bin/ifconfig"));
    std::string path = std::string("/tmp/bin:") + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
    ASSERT_EQ(0, setenv("PATH", path.c_str(), 1));
    // A dummy device where the kernel has the driver, else one end of a veth pair.
    ASSERT_EQ(0, ZND_TestSh("{ ip link add eth1 type dummy 2>/dev/null || ip link add eth1 type veth peer name eth1peer; }"
                            " && ip link set eth1 address 02:1a:2b:3c:4d:5e"));
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/userinfo", "config userinfo '1'\n"
                                                          "\toption mode '1'\n\toption node '2'\n"
                                                          "\toption nodename 'n'\n\toption reconn '0'\n"));

    ClientRecord client;
    memset(&client, 0, sizeof client);
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccSetting(&client));
    EXPECT_EQ("021A2B3C4D5E", Upper(client.mad));
    EXPECT_EQ(12u, strlen(client.mad));
    EXPECT_EQ(1u, client.mode);
    EXPECT_EQ(2u, client.node);

    // Without the interface there is no identity, and the result says so.
    ASSERT_EQ(0, ZND_TestSh("ip link del eth1"));
    char mac[20] = "keep";
    EXPECT_EQ(ZND_ERR_COMMON, ZND_GetMacByIfName("eth1", mac, sizeof mac));
    EXPECT_STREQ("keep", mac);
}

} // namespace
