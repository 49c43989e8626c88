// The curl exchange with a faked shell (reply files written by the fake), and the command line
// run through the real /bin/sh with curl replaced by a script that records its arguments.
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "cloud/exchange.h"
#include "cloud/login.h"
#include "core/build_config.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "core/shell_quote.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"

namespace {

const char kToken[] = "3f7a1c9e5b2d4086a1e3c5f7092b4d6e";

class Exchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        strcpy(client.uname, "alice");
        strcpy(client.upass, "s3cret");
        strcpy(client.mad, "00:11:22:33:44:55");
        client.gid = 757;
        shell.On("rm -rf " ZND_PATH_SERVER_REPLY, 0, "", [](const std::string &) { unlink(ZND_PATH_SERVER_REPLY); });
    }
    void TearDown() override { ZND_ContextReset(); }
    // The reply that a run of curl against server/api leaves behind (and its exit status).
    void Reply(const std::string &server, const std::string &api, const std::string &body, int code = 0,
               bool write = true)
    {
        shell.On("'" + server + api + "'", FakeShell::Exit(code), "", [body, write](const std::string &) {
            if (write)
                ZND_TestWriteFile(ZND_PATH_SERVER_REPLY, body);
        });
    }
    size_t KeyLogCount(const std::string &text)
    {
        std::string log = ZND_TestReadFile(ZND_PATH_KEY_LOG);
        size_t n = 0;
        for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1))
            n++;
        return n;
    }
    FakeShell shell;
    ClientRecord client = {};
};

TEST_F(Exchange, CommandLinesOfBothForms)
{
    LogCapture log;
    Reply("srv", "/api/forceoffline", "{\"code\": 0}");
    json_object *obj = nullptr;
    ASSERT_EQ(ZND_OK, ZND_ClientTalkToServer(&client, "srv", "/api/forceoffline", &obj));
    ASSERT_NE(nullptr, obj);
    json_object_put(obj);
    ASSERT_EQ(2u, shell.commands().size());
    EXPECT_EQ("rm -rf /var/run/tmpServerReply", shell.commands()[0]);
    // The credentials go to curl's standard input, never on its command line.
    EXPECT_EQ("curl -s -m 10 --retry 3 --retry-max-time 3 -K - -d 'mad=00:11:22:33:44:55&gid=757' "
              "'srv/api/forceoffline' -o '/var/run/tmpServerReply'",
              shell.commands()[1]);
    EXPECT_EQ("user = \"alice:s3cret\"\nmax-filesize = 262144\n", shell.InputOf("/api/forceoffline"));
    EXPECT_TRUE(log.Has("talk to server cmd: curl -s -m 10 --retry 3 --retry-max-time 3 -u 'alice:***' "
                        "-d 'mad=00:11:22:33:44:55&gid=757' 'srv/api/forceoffline' -o '/var/run/tmpServerReply'"));
    EXPECT_FALSE(log.Has("s3cret"));

    Reply("srv", "/api/softlogin", "Y|x");
    char *raw = nullptr;
    size_t len = 0;
    ASSERT_EQ(ZND_OK, ZND_ClientTalkToServerOld(&client, "srv", "/api/softlogin", &raw, &len));
    free(raw);
    EXPECT_EQ(std::string("curl -s -m 10 --retry 3 --retry-max-time 3 -K - -d 'token=") + kToken +
                  "&gid=757' 'srv/api/softlogin' -o '/var/run/tmpServerReply'",
              shell.commands().back());
    EXPECT_EQ("user = \"alice:s3cret\"\nmax-filesize = 262144\n", shell.InputOf("/api/softlogin"));
    Reply("srv", "/api/gamelist", "<games/>");
    ASSERT_EQ(ZND_OK, ZND_ClientTalkToServerOld(&client, "srv", "/api/gamelist", &raw, &len));
    free(raw);
    EXPECT_EQ("user = \"alice:s3cret\"\nmax-filesize = 4194304\n", shell.InputOf("/api/gamelist"));
}

TEST_F(Exchange, RawReplyIsHandedOverWithTerminatingZero)
{
    std::string body("Y|a\0b|c", 7);
    Reply("srv", "/api/softlogin", body);
    char *raw = nullptr;
    size_t len = 0;
    ASSERT_EQ(ZND_OK, ZND_ClientTalkToServerOld(&client, "srv", "/api/softlogin", &raw, &len));
    ASSERT_EQ(7u, len);
    EXPECT_EQ(0, memcmp(raw, body.data(), 7));
    EXPECT_EQ('\0', raw[7]);
    free(raw);
}

TEST_F(Exchange, RawFailuresGiveNoBuffer)
{
    LogCapture log;
    char *raw = reinterpret_cast<char *>(1);
    size_t len = 99;
    Reply("srv", "/api/softlogin", "");
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ClientTalkToServerOld(&client, "srv", "/api/softlogin", &raw, &len));
    EXPECT_TRUE(log.Has("Get file size failed!"));
    EXPECT_TRUE(log.Has("reply file /var/run/tmpServerReply: empty"));
    EXPECT_EQ(nullptr, raw);
    EXPECT_EQ(0u, len);

    Reply("srv", "/api/softlogin", "", 0, false);   // curl left no file at all
    EXPECT_EQ(ZND_ERR_OPEN_FILE, ZND_ClientTalkToServerOld(&client, "srv", "/api/softlogin", &raw, &len));
    EXPECT_TRUE(log.Has("open /var/run/tmpServerReply file failed!"));
    EXPECT_TRUE(log.Has("reply file /var/run/tmpServerReply: No such file or directory"));
    EXPECT_EQ(nullptr, raw);

    // A reply whose size was not announced gets past curl's limit: it is not read.
    Reply("srv", "/api/cfgcontrol", std::string(262145, 'x'));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ClientTalkToServerOld(&client, "srv", "/api/cfgcontrol", &raw, &len));
    EXPECT_TRUE(log.Has("server reply of 262145 bytes is over the limit of 262144, not read"));
    EXPECT_EQ(nullptr, raw);
    Reply("srv", "/api/forceoffline", "{\"code\": 0, \"pad\": \"" + std::string(262144, 'x') + "\"}");
    json_object *obj = reinterpret_cast<json_object *>(1);
    EXPECT_EQ(ZND_ERR_OPEN_FILE, ZND_ClientTalkToServer(&client, "srv", "/api/forceoffline", &obj));
    EXPECT_EQ(nullptr, obj);
    Reply("srv", "/api/gamelist", std::string(262145, 'x'));
    EXPECT_EQ(ZND_OK, ZND_ClientTalkToServerOld(&client, "srv", "/api/gamelist", &raw, &len));
    EXPECT_EQ(262145u, len);
    free(raw);
}

TEST_F(Exchange, NetworkErrorIsElevenWithKeyLog)
{
    LogCapture log;
    Reply("srv", "/api/forceoffline", "{\"code\": 0}", 6);
    json_object *obj = reinterpret_cast<json_object *>(1);
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_ClientTalkToServer(&client, "srv", "/api/forceoffline", &obj));
    EXPECT_EQ(nullptr, obj);
    EXPECT_TRUE(log.Has("tolk server cmd(curl -s -m 10 --retry 3 --retry-max-time 3 -u 'alice:***'"));
    EXPECT_FALSE(log.Has("s3cret"));
    EXPECT_EQ(1u, KeyLogCount("]: connect to server failed, network error, code: 11\n"));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  server srv: curl exit 6: server name not resolved  [line:"));

    // A certificate that does not verify says so, with the same result.
    Reply("https://srv", "/api/softlogin", "", 60, false);
    char *raw = nullptr;
    size_t len = 0;
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_ClientTalkToServerOld(&client, "https://srv", "/api/softlogin", &raw, &len));
    EXPECT_TRUE(log.Has("server https://srv: curl exit 60: server certificate not verified (unknown CA, expired or "
                        "not for this name)"));
    Reply("https://srv", "/api/softlogin", "", 51, false);
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_ClientTalkToServerOld(&client, "https://srv", "/api/softlogin", &raw, &len));
    EXPECT_TRUE(log.Has("curl exit 51: server certificate not for this name"));
    // A full /var: curl cannot write the reply; the result stays 11, the line names the file.
    Reply("srv", "/api/softlogin", "", 23, false);
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_ClientTalkToServerOld(&client, "srv", "/api/softlogin", &raw, &len));
    EXPECT_TRUE(log.Has("server srv: curl exit 23: reply not written to /var/run/tmpServerReply (file system full "
                        "or not writable)"));
    EXPECT_EQ(4u, KeyLogCount("]: connect to server failed, network error, code: 11\n"));
}

TEST_F(Exchange, JsonRepliesMapToResults)
{
    struct Case {
        const char *body;
        uint32_t rc;
        const char *line;
    } cases[] = {
        {"{\"code\": 2}", ZND_ERR_MAC_USED, "http request mas is used"},
        {"{\"msg\": 1}", ZND_ERR_COMMON, "get code failed!"},
        {"{\"code\": 7}", ZND_ERR_COMMON, "response code value error"},
        {"", ZND_ERR_OPEN_FILE, "server response file /var/run/tmpServerReply parse failed!"},
        {"<html><body>500</body></html>", ZND_ERR_OPEN_FILE, "parse failed!"},
        {"{\"code\": 0", ZND_ERR_OPEN_FILE, "parse failed!"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        Reply("srv", "/api/forceoffline", c.body);
        json_object *obj = nullptr;
        EXPECT_EQ(c.rc, ZND_ClientTalkToServer(&client, "srv", "/api/forceoffline", &obj)) << c.body;
        EXPECT_EQ(nullptr, obj);
        EXPECT_TRUE(log.Has(c.line)) << c.body;
        EXPECT_EQ(c.rc != ZND_ERR_OPEN_FILE, log.Has("server response code verfiy failed!")) << c.body;
    }
}

TEST_F(Exchange, NoNetworkTriesAllThreeServers)
{
    shell.SetDefaultStatus(FakeShell::Exit(6));
    shell.On("rm -rf", 0);
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(3u, KeyLogCount("connect to server failed, network error, code: 11"));
    std::vector<std::string> runs = shell.Matching("/api/softlogin");
    ASSERT_EQ(3u, runs.size());
    EXPECT_NE(std::string::npos, runs[0].find("'" ZND_CLOUD_PRIMARY "/api/softlogin'"));
    EXPECT_NE(std::string::npos, runs[1].find("'" ZND_CLOUD_SECONDARY "/api/softlogin'"));
    EXPECT_NE(std::string::npos, runs[2].find("'" ZND_CLOUD_FALLBACK "/api/softlogin'"));
}

TEST_F(Exchange, LoginRefusedByFirstAcceptedBySecond)
{
    Reply(ZND_CLOUD_PRIMARY, "/api/softlogin", "N");
    Reply(ZND_CLOUD_SECONDARY, "/api/softlogin", "Y|2025-06-30_23:59:59|x|100|x|2025-06-01_08:00:00|0|x|203.0.113.7|1\n");
    client.ucPayState = 5;   // cleared at the start of the login
    EXPECT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(5, client.ucVipType);
    EXPECT_EQ(0, client.ucPayState);
    EXPECT_EQ(1, client.ucAccTunState);
    EXPECT_EQ(0u, shell.Count(ZND_CLOUD_FALLBACK));

    Reply(ZND_CLOUD_SECONDARY, "/api/softlogin", "N|");
    Reply(ZND_CLOUD_FALLBACK, "/api/softlogin", "N|");
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, ZND_UserLogin(&client, nullptr));
    EXPECT_EQ(0, client.ucVipType);
    EXPECT_EQ(0, client.ucAccTunState);
    EXPECT_STREQ("", client.ucPbNetIp);
}

// A server that is down costs its time-out once, not on every request that follows.
TEST_F(Exchange, WalkStartsAtTheServerThatAnsweredLast)
{
    Reply(ZND_CLOUD_PRIMARY, "/api/softlogin", "", 28, false);
    Reply(ZND_CLOUD_SECONDARY, "/api/softlogin", "N");
    Reply(ZND_CLOUD_FALLBACK, "/api/softlogin", "Y|x");
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    Reply(ZND_CLOUD_FALLBACK, "/api/forceoffline", "{\"code\": 0}");
    ASSERT_EQ(ZND_OK, ZND_UserForceOfflineAccTunnel(&client, nullptr));
    std::vector<std::string> runs = shell.Matching("/api/forceoffline");
    ASSERT_EQ(1u, runs.size());
    EXPECT_NE(std::string::npos, runs[0].find("'" ZND_CLOUD_FALLBACK "/api/forceoffline'"));

    // Round the list from there.
    Reply(ZND_CLOUD_FALLBACK, "/api/softlogin", "", 28, false);
    Reply(ZND_CLOUD_SECONDARY, "/api/softlogin", "Y|x");
    shell.Clear();
    ASSERT_EQ(ZND_OK, ZND_UserLogin(&client, nullptr));
    runs = shell.Matching("/api/softlogin");
    ASSERT_EQ(3u, runs.size());
    EXPECT_NE(std::string::npos, runs[0].find("'" ZND_CLOUD_FALLBACK "/api/softlogin'"));
    EXPECT_NE(std::string::npos, runs[1].find("'" ZND_CLOUD_PRIMARY "/api/softlogin'"));
    EXPECT_NE(std::string::npos, runs[2].find("'" ZND_CLOUD_SECONDARY "/api/softlogin'"));
}

TEST_F(Exchange, ForceOfflineStopsAtFirstSuccess)
{
    client.ucAccTunState = 1;
    Reply(ZND_CLOUD_PRIMARY, "/api/forceoffline", "{\"code\": 3}");
    Reply(ZND_CLOUD_SECONDARY, "/api/forceoffline", "{\"code\": 0}");
    EXPECT_EQ(ZND_OK, ZND_UserForceOfflineAccTunnel(&client, nullptr));
    EXPECT_EQ(0, client.ucAccTunState);
    EXPECT_EQ(0u, shell.Count(ZND_CLOUD_FALLBACK));

    // From the secondary, which answered last, round to the primary: its result is the last.
    client.ucAccTunState = 1;
    Reply(ZND_CLOUD_SECONDARY, "/api/forceoffline", "{\"code\": 1}");
    Reply(ZND_CLOUD_FALLBACK, "/api/forceoffline", "{\"code\": 2}");
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, ZND_UserForceOfflineAccTunnel(&client, nullptr));
    EXPECT_EQ(1, client.ucAccTunState);
}

TEST_F(Exchange, MissingRecord)
{
    LogCapture log;
    EXPECT_EQ(ZND_ERR_COMMON, ZND_UserLogin(nullptr, nullptr));
    EXPECT_TRUE(log.Has("the pstClient is NULL"));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_UserForceOfflineAccTunnel(nullptr, nullptr));
    EXPECT_TRUE(log.Has("the pstClient is NULL!!"));
    EXPECT_TRUE(shell.commands().empty());
}

// ---- the command line as the real shell sees it -------------------------------------------

// A curl stand-in that writes each argument, NUL-terminated, to a file, and its standard input to
// another.
const char kArgvDump[] = "/tmp/curl-argv";
const char kStdinDump[] = "/tmp/curl-stdin";

void InstallArgvCurl()
{
    mkdir("/tmp/bin", 0755);
    ASSERT_TRUE(ZND_TestWriteFile("/tmp/bin/curl",
                                  "#!/bin/sh\n"
                                  ": > /tmp/curl-argv\n"
                                  "for a in \"$@\"; do printf '%s\\0' \"$a\" >> /tmp/curl-argv; done\n"
                                  "cat > /tmp/curl-stdin\n"
                                  "printf 'Y|ok' > /var/run/tmpServerReply\n",
                                  0755));
    std::string path = std::string("/tmp/bin:") + getenv("PATH");
    setenv("PATH", path.c_str(), 1);
}

std::vector<std::string> DumpedArgv()
{
    std::string raw = ZND_TestReadFile(kArgvDump);
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t p = raw.find('\0'); p != std::string::npos; p = raw.find('\0', start)) {
        out.push_back(raw.substr(start, p - start));
        start = p + 1;
    }
    return out;
}

TEST(ExchangeShell, HostileValuesReachCurlAsSingleArguments)
{
    ZND_ContextReset();
    InstallArgvCurl();
    const char *hostile[] = {
        "o'neil",      "a'; touch /tmp/pwned; echo '", "$(touch /tmp/pwned)", "`touch /tmp/pwned`",
        "line1\nline2", "-K/etc/passwd",               "x;touch /tmp/pwned",  "''''",
        "\\'",          "$HOME ${PATH} * ?",            "--next",             "a\"b\"c",
        "a\\\"\nurl = \"file:///etc/passwd",
    };
    for (const char *user : hostile) {
        for (const char *pass : hostile) {
            ClientRecord c = {};
            snprintf(c.uname, sizeof c.uname, "%s", user);
            snprintf(c.upass, sizeof c.upass, "%s", pass);
            snprintf(c.mad, sizeof c.mad, "%s", user);
            c.gid = 757;
            LogCapture log;
            char *raw = nullptr;
            size_t len = 0;
            ASSERT_EQ(ZND_OK, ZND_ClientTalkToServerOld(&c, "cfg.example", "/api/softlogin", &raw, &len))
                << user << " / " << pass;
            free(raw);
            std::vector<std::string> argv = DumpedArgv();
            std::vector<std::string> want = {"-s",    "-m", "10", "--retry", "3", "--retry-max-time", "3", "-K",
                                             "-",     "-d", std::string("token=") + kToken + "&gid=757",
                                             "cfg.example/api/softlogin", "-o", ZND_PATH_SERVER_REPLY};
            EXPECT_EQ(want, argv) << user << " / " << pass;
            // curl's configuration on its standard input is the user line and the size limit,
            // whatever the values hold, so that nothing in them can add an option of its own.
            std::string config = ZND_TestReadFile(kStdinDump);
            size_t eol = config.find('\n');
            EXPECT_EQ(0u, config.rfind("user = \"", 0)) << config;
            EXPECT_EQ("max-filesize = 262144\n", config.substr(eol + 1)) << config;
            EXPECT_FALSE(ZND_TestFileExists("/tmp/pwned")) << user << " / " << pass;
            // The log shows the user (a line break escaped) but never the password.
            std::string shown = std::string("-u '") + ZND_LogEscape(ZND_ShellEscapeSingle(user).c_str()) + ":***'";
            EXPECT_TRUE(log.Has(shown)) << shown;

            json_object *obj = nullptr;
            ZND_ClientTalkToServer(&c, "cfg.example", "/api/forceoffline", &obj);
            argv = DumpedArgv();
            ASSERT_EQ(14u, argv.size());
            EXPECT_EQ(std::string("mad=") + c.mad + "&gid=757", argv[10]);
            EXPECT_FALSE(ZND_TestFileExists("/tmp/pwned"));
        }
    }
}

} // namespace
