// UCI_GetCfgInfo / UCI_SetCfgInfo over a temporary configuration directory.
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include "config/uci.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"
#include "platform/uci_store.h"

namespace {

class UciCfgTest : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/uci_cfg_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        ZND_UciSetConfDir(dir_.c_str());
        ASSERT_TRUE(ZND_TestWriteFile(dir_ + "/userinfo", "config userinfo '1'\n"
                                                          "\toption mode '3'\n"
                                                          "\toption long '" + std::string(100, 'L') + "'\n"
                                                          "\toption exact '" + std::string(63, 'E') + "'\n"
                                                          "\tlist servers 'a'\n"));
    }
    void TearDown() override
    {
        ZND_UciSetConfDir(nullptr);
        ZND_ContextReset();
        std::filesystem::remove_all(dir_);
    }

    std::string dir_;
    LogCapture log_;
};

TEST_F(UciCfgTest, ReadCutsToTheBufferAndNeverWritesPastIt)
{
    char buf[80];
    memset(buf, 'X', sizeof buf);
    ASSERT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", "long", buf, 64));
    EXPECT_EQ(std::string(63, 'L'), buf);
    for (size_t i = 64; i < sizeof buf; i++)
        ASSERT_EQ('X', buf[i]) << i;

    memset(buf, 'X', sizeof buf);
    ASSERT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", "exact", buf, 64));
    EXPECT_EQ(std::string(63, 'E'), buf);

    ASSERT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", "mode", buf, 1));
    EXPECT_EQ('\0', buf[0]);
    ASSERT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", "mode", buf, sizeof buf));
    EXPECT_STREQ("3", buf);
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(UciCfgTest, DebugLineShowsAddressAndValue)
{
    ZND_DebugOn();
    char buf[16] = {};
    ASSERT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", "mode", buf, sizeof buf));
    EXPECT_TRUE(log_.Has("[ZND_DBG]  get the value : {userinfo.1.mode}:[3].")) << log_.lines().size();
}

TEST_F(UciCfgTest, MissingOptionsSectionsAndListsAreReportedWithTheFullAddress)
{
    char buf[64] = {};
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgInfo("userinfo", "1", "nodename", buf, sizeof buf));
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgInfo("userinfo", "2", "mode", buf, sizeof buf));
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgInfo("userinfo", "1", "servers", buf, sizeof buf));
    ASSERT_EQ(3u, log_.lines().size());
    EXPECT_EQ(0u, log_.lines()[0].text.find("[ZND_ERROR]  This [userinfo.1.nodename] does not exist!!  [line:"));
    EXPECT_TRUE(log_.Has("This [userinfo.2.mode] does not exist!!"));
    EXPECT_TRUE(log_.Has("This [userinfo.1.servers] does not exist!!"));
    EXPECT_STREQ("", buf);
    // An optional option is told by its caller, not here.
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetOptionalCfgInfo("userinfo", "1", "nodename", buf, sizeof buf));
    EXPECT_EQ(3u, log_.lines().size());
}

// A list's items in order, an option as one value, each cut to its field.
TEST_F(UciCfgTest, ValuesOfListsAndOptions)
{
    ASSERT_TRUE(ZND_TestWriteFile(dir_ + "/network", "config interface 'lan'\n"
                                                     "\tlist ipaddr '192.168.1.1/24'\n"
                                                     "\tlist ipaddr '10.0.0.1/8'\n"
                                                     "\toption proto '" + std::string(100, 'p') + "'\n"));
    UCI_Values v;
    ASSERT_EQ(ZND_OK, UCI_GetCfgValues("network", "lan", "ipaddr", &v));
    ASSERT_EQ(2, v.count);
    EXPECT_STREQ("192.168.1.1/24", v.text[0]);
    EXPECT_STREQ("10.0.0.1/8", v.text[1]);
    ASSERT_EQ(ZND_OK, UCI_GetCfgValues("network", "lan", "proto", &v));
    ASSERT_EQ(1, v.count);
    EXPECT_EQ(std::string(63, 'p'), v.text[0]);
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgValues("network", "lan", "netmask", &v));
    EXPECT_EQ(0, v.count);
    EXPECT_TRUE(log_.Has("This [network.lan.netmask] does not exist!!"));
}

TEST_F(UciCfgTest, UnloadablePackagesAndBadArgumentsFail)
{
    char buf[64] = {};
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgInfo("wireless", "wifi", "ssid", buf, sizeof buf));
    EXPECT_EQ(1u, log_.Count("[ZND_ERROR]  uci lookup ptr failed!!"));
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgInfo("userinfo", "1", "bad.name", buf, sizeof buf));
    EXPECT_EQ(2u, log_.Count("uci lookup ptr failed!!"));
    EXPECT_EQ(ZND_ERR_COMMON, UCI_SetCfgInfo("wireless", "wifi", "ssid", "x"));
    EXPECT_EQ(3u, log_.Count("uci lookup ptr failed!!"));

    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgInfo(nullptr, "1", "mode", buf, sizeof buf));
    EXPECT_EQ(ZND_ERR_COMMON, UCI_GetCfgInfo("userinfo", "1", "mode", nullptr, 64));
    EXPECT_EQ(ZND_ERR_COMMON, UCI_SetCfgInfo("userinfo", "1", "mode", nullptr));
    EXPECT_EQ(3u, log_.Count("the argument point is NULL!!"));
    EXPECT_FALSE(ZND_TestFileExists(dir_ + "/wireless"));
}

TEST_F(UciCfgTest, SetCreatesTheOptionInAnExistingSection)
{
    EXPECT_EQ(ZND_OK, UCI_SetCfgInfo("userinfo", "1", "currState", "ACC_OK"));
    char buf[64] = {};
    ASSERT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", "currState", buf, sizeof buf));
    EXPECT_STREQ("ACC_OK", buf);
    ASSERT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", "mode", buf, sizeof buf));
    EXPECT_STREQ("3", buf);
    EXPECT_TRUE(log_.lines().empty());
}

// A value that was not stored must not be reported as stored.
TEST_F(UciCfgTest, SetIntoAMissingSectionFails)
{
    ASSERT_TRUE(ZND_TestWriteFile(dir_ + "/network", "config interface 'lan'\n"));
    EXPECT_EQ(ZND_ERR_COMMON, UCI_SetCfgInfo("network", "vpn", "proto", "pptp"));
    EXPECT_TRUE(log_.Has("[ZND_ERROR]  uci set [network.vpn.proto] failed!!"));
    EXPECT_EQ("config interface 'lan'\n", ZND_TestReadFile(dir_ + "/network"));
}

// The address is cut to 254 characters, so a name past that limit resolves to its prefix.
TEST_F(UciCfgTest, AddressIsCutTo254Characters)
{
    std::string kept(254 - strlen("userinfo.1."), 'o');
    ASSERT_TRUE(ZND_TestWriteFile(dir_ + "/userinfo", "config userinfo '1'\n\toption " + kept + " 'v'\n"));
    char buf[8] = {};
    EXPECT_EQ(ZND_OK, UCI_GetCfgInfo("userinfo", "1", (kept + "ooooo").c_str(), buf, sizeof buf));
    EXPECT_STREQ("v", buf);
}

} // namespace
