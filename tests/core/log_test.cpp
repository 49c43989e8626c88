// Log line format, the debug switch, the key log and the shell runner.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include "core/context.h"
#include "core/log.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { ZND_ContextReset(); }
    void TearDown() override { ZND_ContextReset(); }
};

int line_of_error = 0;
void log_an_error()
{
    line_of_error = __LINE__ + 1;
    ZND_ERROR("uloop init fail");
}

} // namespace

TEST_F(LogTest, LinesCarryTagPriorityLineAndFunction)
{
    LogCapture cap;
    log_an_error();
    ZND_INFO("user %s, code %d", "bob", 7);
    ASSERT_EQ(2u, cap.lines().size());
    EXPECT_EQ(LOG_ERR, cap.lines()[0].priority);
    EXPECT_EQ("[ZND_ERROR]  uloop init fail  [line:" + std::to_string(line_of_error) + "] [log_an_error]\n",
              cap.lines()[0].text);
    EXPECT_EQ(LOG_INFO, cap.lines()[1].priority);
    EXPECT_EQ(0u, cap.lines()[1].text.find("[ZND_INFO]  user bob, code 7  [line:"));
}

TEST_F(LogTest, LongLinesAreNotCut)
{
    LogCapture cap;
    std::string long_text(3000, 'x');
    ZND_INFO("talk to server cmd: %s", long_text.c_str());
    ASSERT_EQ(1u, cap.lines().size());
    EXPECT_NE(std::string::npos, cap.lines()[0].text.find(long_text + "  [line:"));
}

// A value can never start a line of its own: its control characters are escaped, while the
// format's own text is written as it is. Values of every kind still format as printf does.
TEST_F(LogTest, ValuesCannotForgeLines)
{
    LogCapture cap;
    ZND_INFO("user %s, code %d", "x\ntouch /tmp/p", 7);
    ZND_DebugOn();
    ZND_DBG("respond msg:\n%s\n", "a\r\n\tb\x1b\x7f\xe6\xa8\xa1");
    char field[8] = "ab\ncd";
    ZND_INFO("%5d|%-4s|%x|%lu|%.*s|%c|%.1f|%s", -3, "ok", 255u, 9ul, 2, "xyz\n", 'c', 2.25, field);
    ASSERT_EQ(3u, cap.lines().size());
    EXPECT_EQ(0u, cap.lines()[0].text.find("[ZND_INFO]  user x\\ntouch /tmp/p, code 7  [line:"));
    EXPECT_EQ(0u, cap.lines()[1].text.find("[ZND_DBG]  respond msg:\na\\r\\n\\tb\\x1b\\x7f\xe6\xa8\xa1\n  [line:"));
    EXPECT_EQ(0u, cap.lines()[2].text.find("[ZND_INFO]     -3|ok  |ff|9|xy|c|2.2|ab\\ncd  [line:"));
    for (const auto &line : cap.lines())
        EXPECT_EQ('\n', line.text.back());
}

// A secret is marked where it is logged; the line shows "***".
TEST_F(LogTest, SecretsAreNotWritten)
{
    LogCapture cap;
    ZND_INFO("uname = %s, upass = %s.", "alice", ZND_LogSecret("s3cret"));
    ASSERT_EQ(1u, cap.lines().size());
    EXPECT_EQ(0u, cap.lines()[0].text.find("[ZND_INFO]  uname = alice, upass = ***.  [line:"));
}

TEST_F(LogTest, DebugLinesFollowTheSwitch)
{
    LogCapture cap;
    ZND_DBG("hidden %d", 1);
    EXPECT_EQ(0, ZND_IsDebugOn());
    ZND_DebugOn();
    EXPECT_EQ(1, ZND_IsDebugOn());
    ZND_DBG("shown %d", 2);
    ZND_DebugOff();
    ZND_DBG("hidden %d", 3);
    ASSERT_EQ(1u, cap.lines().size());
    EXPECT_EQ(LOG_DEBUG, cap.lines()[0].priority);
    EXPECT_EQ(0u, cap.lines()[0].text.find("[ZND_DBG]  shown 2  [line:"));
}

// The system sink copies a line to standard error only when that is a terminal: a daemon under
// procd has its standard error logged as well, where a copy would log every line twice.
TEST_F(LogTest, SystemSinkMirrorsToStandardErrorOnlyOnATerminal)
{
    int tty = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    ASSERT_EQ(0, grantpt(tty));
    ASSERT_EQ(0, unlockpt(tty));
    int term = open(ptsname(tty), O_RDWR | O_NOCTTY);
    ASSERT_GE(term, 0);
    int pipe_fds[2];
    ASSERT_EQ(0, pipe2(pipe_fds, O_NONBLOCK));
    int saved = dup(STDERR_FILENO);
    ZND_LogSinkFn old = ZND_LogSetSink(nullptr);
    dup2(pipe_fds[1], STDERR_FILENO);
    ZND_INFO("into a pipe %d", 1);
    dup2(term, STDERR_FILENO);
    ZND_ERROR("onto a terminal %d", 2);
    dup2(saved, STDERR_FILENO);
    ZND_LogSetSink(old);
    char buf[256];
    EXPECT_EQ(-1, read(pipe_fds[0], buf, sizeof buf));
    struct pollfd p = {tty, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 2000));
    ssize_t n = read(tty, buf, sizeof buf - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(0u, std::string(buf, (size_t)n).find("<3>[ZND_ERROR]  onto a terminal 2  [line:"));
    for (int fd : {tty, term, pipe_fds[0], pipe_fds[1], saved})
        close(fd);
}

TEST_F(LogTest, SystemReturnsTheStatusWhateverSigchldDisposition)
{
    EXPECT_EQ(0, ZND_System("true"));
    EXPECT_EQ(3 << 8, ZND_System("exit 3"));

    struct sigaction ign = {}, before = {}, after = {};
    ign.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ign, &before);
    EXPECT_EQ(5 << 8, ZND_System("exit 5"));
    sigaction(SIGCHLD, nullptr, &after);
    EXPECT_EQ(SIG_IGN, after.sa_handler);
    sigaction(SIGCHLD, &before, nullptr);
}

// The key log lives in /tmp; these run in the sandbox's private /tmp.
class KeyLogTest : public LogTest {
protected:
    void SetUp() override
    {
        LogTest::SetUp();
        unlink("/tmp/zunaro.log");
    }
};

TEST_F(KeyLogTest, EntriesAreFlushedPerCallWithTimeStamp)
{
    ZND_KEYLOG("login failed, code: %d", 12);
    std::string text = ZND_TestReadFile("/tmp/zunaro.log");
    // "[Www Mmm dd hh:mm:ss yyyy]: message\n": the 24-character ctime text without its newline.
    ASSERT_EQ('[', text[0]);
    ASSERT_EQ(']', text[25]);
    EXPECT_EQ(": login failed, code: 12\n", text.substr(26));
    ZND_KEYLOG("logout");
    text = ZND_TestReadFile("/tmp/zunaro.log");
    EXPECT_NE(std::string::npos, text.find("]: logout\n"));
}

TEST_F(KeyLogTest, ValuesAreEscapedThere)
{
    ZND_KEYLOG("login failed, user %s", "x\n[Thu Jan  1 00:00:00 1970]: login success\r");
    std::string text = ZND_TestReadFile("/tmp/zunaro.log");
    EXPECT_EQ(": login failed, user x\\n[Thu Jan  1 00:00:00 1970]: login success\\r\n", text.substr(26));
}

TEST_F(KeyLogTest, LongMessageIsCutTo1023Characters)
{
    std::string msg(2000, 'k');
    ZND_KEYLOG("%s", msg.c_str());
    std::string text = ZND_TestReadFile("/tmp/zunaro.log");
    ASSERT_GT(text.size(), 28u);
    EXPECT_EQ(std::string(1023, 'k') + "\n", text.substr(28));
}

TEST_F(KeyLogTest, DeletedFileKeepsTheHandleAndIsNotRecreated)
{
    ZND_KEYLOG("init success");
    FILE *handle = g_znd.keyLogFile;
    ASSERT_NE(nullptr, handle);
    unlink("/tmp/zunaro.log");
    ZND_KEYLOG("acc start");
    EXPECT_EQ(handle, g_znd.keyLogFile);
    EXPECT_FALSE(ZND_TestFileExists("/tmp/zunaro.log"));
}

TEST_F(KeyLogTest, UnopenableFileCostsOneErrorLinePerCall)
{
    LogCapture cap;
    ASSERT_EQ(0, mkdir("/tmp/zunaro.log", 0755));   // a directory cannot be opened for appending
    ZND_KEYLOG("one");
    ZND_KEYLOG("two");
    EXPECT_EQ(2u, cap.Count("[ZND_ERROR]  fopen log file /tmp/zunaro.log error"));
    EXPECT_EQ(nullptr, g_znd.keyLogFile);
    rmdir("/tmp/zunaro.log");
    ZND_KEYLOG("three");
    EXPECT_NE(std::string::npos, ZND_TestReadFile("/tmp/zunaro.log").find("]: three\n"));
}

// A full /tmp: the entry that does not fit is taken back whole, and the next one that fits starts
// its own line.
TEST_F(KeyLogTest, EntryCutByAFullFileSystemIsTakenBack)
{
    ASSERT_EQ(0, mount("full-tmp", "/tmp", "tmpfs", 0, "size=4k")) << strerror(errno);
    LogCapture cap;
    std::string msg(100, 'm');   // 129-byte entries: the 32nd of them is cut at 4096
    for (int i = 0; i < 32; i++)
        ZND_KEYLOG("%s", msg.c_str());
    ZND_KEYLOG("logout");
    std::string text = ZND_TestReadFile("/tmp/zunaro.log");
    ZND_ContextReset();
    umount("/tmp");
    EXPECT_EQ(31u * 129 + 35, text.size());
    EXPECT_EQ("]: logout\n", text.substr(text.size() - 10));
    EXPECT_EQ(1u, cap.Count("key log /tmp/zunaro.log: line not written: No space left on device"));
}
