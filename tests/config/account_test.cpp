// The account and settings loaders, and the MAC look-up behind the device identity.
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include "config/account.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"
#include "platform/uci_store.h"

namespace {

const char kMacCommand[] = "ifconfig eth1| grep HWaddr| awk '{print $5}'| tr -d ':'| tr -d '\\n'";

class AccountTest : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/account_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        ZND_UciSetConfDir(dir_.c_str());
        memset(&client_, 0, sizeof client_);
        shell_.On("ifconfig eth1", 0, "00E04C6A1B2C");
    }
    void TearDown() override
    {
        ZND_UciSetConfDir(nullptr);
        ZND_ContextReset();
        std::filesystem::remove_all(dir_);
    }

    // The userinfo package with section "1" holding the given option lines.
    void UserInfo(const std::string &options)
    {
        ASSERT_TRUE(ZND_TestWriteFile(dir_ + "/userinfo", "config userinfo '1'\n" + options));
    }

    std::string dir_;
    ClientRecord client_;
    FakeShell shell_;
    LogCapture log_;
};

TEST_F(AccountTest, AccountInfoKeepsTheFirst64And256Characters)
{
    UserInfo("\toption historyname '" + std::string(100, 'n') + "'\n"
             "\toption historypass '" + std::string(300, 'p') + "'\n");
    memset(client_.uname, 'X', sizeof client_.uname);
    memset(client_.upass, 'X', sizeof client_.upass);
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccountInfo(&client_));
    EXPECT_EQ(std::string(64, 'n'), client_.uname);
    EXPECT_EQ(std::string(256, 'p'), client_.upass);

    UserInfo("\toption historyname 'alice'\n\toption historypass 'it''s s3cret'\n");
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccountInfo(&client_));
    EXPECT_STREQ("alice", client_.uname);
    EXPECT_STREQ("its s3cret", client_.upass);
    EXPECT_TRUE(log_.lines().empty());

    // With debug on the reads are logged, the password as "***".
    ZND_DebugOn();
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccountInfo(&client_));
    EXPECT_TRUE(log_.Has("get the value : {userinfo.1.historyname}:[alice]."));
    EXPECT_TRUE(log_.Has("get the value : {userinfo.1.historypass}:[***]."));
    EXPECT_TRUE(log_.Has("uname = alice, upass = ***."));
    EXPECT_FALSE(log_.Has("s3cret"));
}

TEST_F(AccountTest, AccountInfoFailuresNameTheField)
{
    strcpy(client_.uname, "before");
    strcpy(client_.upass, "before");
    UserInfo("\toption historypass 'p'\n");
    EXPECT_EQ(ZND_ERR_COMMON, CFGI_ReadUserAccountInfo(&client_));
    EXPECT_TRUE(log_.Has("Get userinfo.1.uname info failed!!"));
    EXPECT_FALSE(log_.Has("upass info failed"));
    EXPECT_STREQ("before", client_.upass);   // the password is not read without a name

    log_.Clear();
    UserInfo("\toption historyname 'bob'\n");
    EXPECT_EQ(ZND_ERR_COMMON, CFGI_ReadUserAccountInfo(&client_));
    EXPECT_TRUE(log_.Has("Get userinfo.1.upass info failed!!"));
    EXPECT_STREQ("bob", client_.uname);
    EXPECT_STREQ("before", client_.upass);

    EXPECT_EQ(ZND_ERR_COMMON, CFGI_ReadUserAccountInfo(nullptr));
    EXPECT_TRUE(log_.Has("the argument point is NULL!!"));
}

TEST_F(AccountTest, SettingsFillTheRecordAndClearTheLoginState)
{
    UserInfo("\toption mode '2'\n\toption node '4711'\n\toption nodename 'Tokyo 3'\n\toption reconn '1'\n");
    client_.ucVipType = 0x0d;
    client_.ucAccTunState = 1;
    client_.ucPayState = 5;
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccSetting(&client_));
    EXPECT_EQ(757u, client_.gid);
    EXPECT_STREQ("00E04C6A1B2C", client_.mad);
    EXPECT_EQ(2u, client_.mode);
    EXPECT_EQ(4711u, client_.node);
    EXPECT_STREQ("Tokyo 3", client_.nodename);
    EXPECT_EQ(1u, client_.reconn);
    EXPECT_EQ(0, client_.ucVipType);
    EXPECT_EQ(0, client_.ucAccTunState);
    EXPECT_EQ(5, client_.ucPayState);
    EXPECT_EQ((std::vector<std::string>{kMacCommand}), shell_.commands());
}

TEST_F(AccountTest, SettingsTextThatIsNotANumberGivesZero)
{
    UserInfo("\toption mode 'abc'\n\toption node '99999999999'\n\toption nodename '" + std::string(100, 'x') +
             "'\n\toption reconn '12abc'\n");
    client_.mode = 3;
    client_.node = 8;
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccSetting(&client_));
    EXPECT_EQ(0u, client_.mode);
    EXPECT_EQ(8u, client_.node);   // beyond 32 bits: kept, not the best node
    EXPECT_EQ(12u, client_.reconn);
    EXPECT_EQ(std::string(63, 'x'), client_.nodename);   // the 64-byte read buffer decides

    // A negative number does not fit either: not wrapped to 4294967295, nor 0 (automatic mode,
    // reconnection off); the setting keeps its value.
    UserInfo("\toption mode '-1'\n\toption node '4294967295'\n\toption nodename 'n'\n\toption reconn '-1'\n");
    client_.mode = 2;
    client_.reconn = 1;
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccSetting(&client_));
    EXPECT_EQ(2u, client_.mode);
    EXPECT_EQ(4294967295u, client_.node);
    EXPECT_EQ(1u, client_.reconn);
    UserInfo("\toption mode '0'\n\toption node '-0'\n\toption nodename 'n'\n\toption reconn '0'\n");
    EXPECT_EQ(ZND_OK, CFGI_ReadUserAccSetting(&client_));
    EXPECT_EQ(0u, client_.mode);
    EXPECT_EQ(0u, client_.node);
    EXPECT_EQ(0u, client_.reconn);
}

TEST_F(AccountTest, SettingsStopAtTheFirstMissingOption)
{
    UserInfo("\toption mode '1'\n\toption nodename 'n'\n\toption reconn '1'\n");
    client_.mode = 3;
    client_.node = 8;
    strcpy(client_.nodename, "prev");
    client_.reconn = 0;
    ZND_DebugOn();
    EXPECT_EQ(ZND_ERR_COMMON, CFGI_ReadUserAccSetting(&client_));
    EXPECT_EQ(1u, client_.mode);
    EXPECT_EQ(8u, client_.node);
    EXPECT_STREQ("prev", client_.nodename);
    EXPECT_EQ(0u, client_.reconn);
    int missing = log_.IndexOf("This [userinfo.1.node] does not exist!!");
    int failed = log_.IndexOf("[ZND_ERROR]  Get userinfo.1.node info failed!!");
    ASSERT_GE(missing, 0);
    EXPECT_GT(failed, missing);
    EXPECT_GT(log_.IndexOf("mode = 1, node = 8, nodename = prev."), failed);
    EXPECT_EQ(0u, log_.Count("get the value : {userinfo.1.nodename}"));
}

TEST_F(AccountTest, SettingsWithoutAMacReadNoOption)
{
    UserInfo("\toption mode '2'\n\toption node '4'\n\toption nodename 'n'\n\toption reconn '1'\n");
    shell_.On("ifconfig eth1", 0, "");
    client_.gid = 1;
    client_.mode = 3;
    client_.ucVipType = 1;
    client_.ucAccTunState = 1;
    strcpy(client_.mad, "keep");
    ZND_DebugOn();
    EXPECT_EQ(ZND_ERR_COMMON, CFGI_ReadUserAccSetting(&client_));
    EXPECT_EQ(757u, client_.gid);
    EXPECT_EQ(0, client_.ucVipType);
    EXPECT_EQ(0, client_.ucAccTunState);
    EXPECT_EQ(3u, client_.mode);
    EXPECT_STREQ("keep", client_.mad);
    EXPECT_TRUE(log_.Has("fgets mac error"));
    EXPECT_FALSE(log_.Has("get the value"));
    EXPECT_FALSE(log_.Has("userinfo"));
}

TEST_F(AccountTest, MacLookupRunsTheExactCommand)
{
    char mac[20] = {};
    shell_.On("ifconfig br-lan.2", 0, "a0b1c2d3e4f5");
    EXPECT_EQ(ZND_OK, ZND_GetMacByIfName("br-lan.2", mac, sizeof mac));
    EXPECT_STREQ("a0b1c2d3e4f5", mac);
    EXPECT_EQ((std::vector<std::string>{
                  "ifconfig br-lan.2| grep HWaddr| awk '{print $5}'| tr -d ':'| tr -d '\\n'"}),
              shell_.commands());
}

TEST_F(AccountTest, MacLookupFailures)
{
    char mac[20] = "keep";
    shell_.FailRead("ifconfig eth1");
    EXPECT_EQ(ZND_ERR_COMMON, ZND_GetMacByIfName("eth1", mac, sizeof mac));
    EXPECT_TRUE(log_.Has("[ZND_ERROR]  popen error"));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_GetMacByIfName(nullptr, mac, sizeof mac));
    EXPECT_TRUE(log_.Has("[ZND_ERROR]  ifName is NULL"));
    EXPECT_STREQ("keep", mac);
    EXPECT_EQ(1u, shell_.commands().size());
}

// The name is pasted into a shell command: anything beyond an ordinary name never reaches the shell.
TEST_F(AccountTest, MacLookupRefusesNamesThatCouldRunCommands)
{
    char mac[20] = "keep";
    for (const char *name : {"eth1;reboot", "eth1 `id`", "$(id)", "eth1|sh", "a'b", "", "averyveryverylong0"}) {
        EXPECT_EQ(ZND_ERR_COMMON, ZND_GetMacByIfName(name, mac, sizeof mac)) << name;
    }
    EXPECT_TRUE(shell_.commands().empty());
    EXPECT_STREQ("keep", mac);
    EXPECT_TRUE(log_.Has("ifName [eth1;reboot] is invalid"));
}

TEST_F(AccountTest, MacLookupCutsLongOutputToFit)
{
    struct {
        char mac[20];
        char guard[16];
    } out;
    memset(&out, 'G', sizeof out);
    shell_.On("ifconfig eth1", 0, std::string(40, 'f'));
    EXPECT_EQ(ZND_OK, ZND_GetMacByIfName("eth1", out.mac, sizeof out.mac));
    EXPECT_EQ(std::string(19, 'f'), out.mac);
    EXPECT_EQ(std::string(16, 'G'), std::string(out.guard, sizeof out.guard));

    // Only the first line counts, at most 31 characters of it.
    char wide[64];
    shell_.On("ifconfig eth1", 0, "0011\n2233");
    EXPECT_EQ(ZND_OK, ZND_GetMacByIfName("eth1", wide, sizeof wide));
    EXPECT_STREQ("0011\n", wide);
    shell_.On("ifconfig eth1", 0, std::string(40, 'e'));
    EXPECT_EQ(ZND_OK, ZND_GetMacByIfName("eth1", wide, sizeof wide));
    EXPECT_EQ(std::string(31, 'e'), wide);
}

} // namespace
