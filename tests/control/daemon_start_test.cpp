// The real zunarod in a sandbox: start-up with and without the user's account, the key log,
// the device identity from eth1, a missing route list, and SIGTERM.
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include "harness/daemon.h"
#include "harness/sandbox.h"

namespace {

const char kLoginList[] = R"({"code":0,"version":"v1","gamelist":[{"gid":757,"sroute":["10.0.0.0:255.0.0.0"]}]})";
const char kTrafficList[] =
    R"({"code":0,"version":"v1","rules":[{"gid":757,"servers":[{"mrange":["10.20.0.0:255.255.0.0"]}]}]})";

class DaemonStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ZND_TestWriteFile("/etc/zunaro/gameList.conf", kLoginList));
        ASSERT_TRUE(ZND_TestWriteFile("/etc/zunaro/smartRoute.conf", kTrafficList));
        ASSERT_EQ(0, ZND_TestSh("mkdir -p /tmp/bin && ln -sf \"$(command -v busybox)\" /tmp/bin/ifconfig"));
        ASSERT_EQ(0, ZND_TestSh("ip link add eth1 type veth peer name eth1peer && "
                                "ip link set eth1 address 02:00:5e:10:20:30"));
        daemon.PrependPath("/tmp/bin");
    }

    DaemonProcess daemon;
};

TEST_F(DaemonStart, WithAccountLoadsItAndEndsCleanlyOnSigterm)
{
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/userinfo", "config userinfo '1'\n"
                                                          "\toption historyname 'alice'\n"
                                                          "\toption historypass 'secret'\n"
                                                          "\toption mode '2'\n\toption node '7'\n"
                                                          "\toption nodename 'tokyo'\n\toption reconn '1'\n"));
    ASSERT_TRUE(daemon.Start());
    ASSERT_TRUE(daemon.WaitForKeyLog("init success", 10000)) << daemon.Log();
    std::string log = daemon.Log();
    EXPECT_NE(std::string::npos, log.find("[ZND_INFO]  user init ok"));
    EXPECT_NE(std::string::npos, log.find("[ZND_INFO]  local route table init ok"));
    EXPECT_EQ(std::string::npos, log.find("info failed!!")) << log;
    EXPECT_EQ(std::string::npos, log.find("fgets mac error")) << log;
    // Each line once, at its own level: its standard error is not a terminal, so no copy there.
    EXPECT_EQ(1, daemon.LogCount("[ZND_INFO]  user init ok")) << log;
    size_t at = log.find("[ZND_INFO]  user init ok");
    ASSERT_NE(std::string::npos, at);
    EXPECT_EQ(0u, log.compare(log.rfind('\n', at) + 1, 4, "<14>")) << "user.info: " << log;
    EXPECT_EQ(0, daemon.Stop(SIGTERM));
    EXPECT_NE(std::string::npos, daemon.Log().find("[ZND_INFO]  route table deinit ok"));
}

TEST_F(DaemonStart, WithoutUserinfoPackageStillStarts)
{
    ASSERT_TRUE(daemon.Start());
    ASSERT_TRUE(daemon.WaitForKeyLog("init success", 10000)) << daemon.Log();
    EXPECT_NE(std::string::npos, daemon.Log().find("Get userinfo.1.uname info failed!!"));
    EXPECT_NE(std::string::npos, daemon.Log().find("Get userinfo.1.mode info failed!!"));
    EXPECT_EQ(0, daemon.Stop(SIGINT));
}

TEST_F(DaemonStart, MissingLoginListEndsWithStatusOne)
{
    unlink("/etc/zunaro/gameList.conf");
    ASSERT_TRUE(daemon.Start());
    EXPECT_EQ(1, daemon.Wait(10000));
    EXPECT_NE(std::string::npos, daemon.Log().find("read login route file fail"));
    EXPECT_EQ(std::string::npos, ZND_TestReadFile("/tmp/zunaro.log").find("init success"));
}

} // namespace
