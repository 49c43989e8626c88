// The host bus served from the event loop of this test process, called by the real zunaroctl
// and by raw clients. Runs in the sandbox: sockets live under an empty /var/run.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include "child.h"
#include "harness/fake_clock.h"
#include "harness/sandbox.h"
#include "harness/serve_until.h"
#include "platform/bus.h"
#include "platform/bus_client.h"
#include "platform/bus_value_util.h"
#include "platform/host/bus_wire.h"
#include "platform/loop.h"

namespace {

const char kSock[] = "/var/run/bus-test.sock";

int g_echo_calls;
int g_second_reply_status;

int Echo(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *, ZND_BusMsg *msg)
{
    g_echo_calls++;
    return ZND_BusSendReply(ctx, req, msg);
}

int Status(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *method, ZND_BusMsg *)
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddString(&b, "status", "3");
    ZND_BusAddString(&b, "status", "LOGIN_OK");
    ZND_BusAddString(&b, "method", method);
    ZND_BusSendReply(ctx, req, ZND_BusBufMsg(&b));
    ZND_BusBufFree(&b);
    return 0;
}

int Silent(ZND_BusContext *, ZND_BusObject *, ZND_BusRequest *, const char *, ZND_BusMsg *)
{
    return 0;
}

// Where a caller of "slow" notes that it stopped waiting.
const char kGaveUp[] = "/tmp/slow-caller-gave-up";

// Answers only once its caller has given up waiting (at most after 20 s), so that the answer is
// late however busy the machine is. The command-line client notes it with its error message.
int Slow(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *, ZND_BusMsg *)
{
    for (int i = 0; i < 2000 && !ZND_TestFileExists(kGaveUp) && ZND_TestReadFile("/tmp/cli.err").empty(); i++)
        usleep(10 * 1000);
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddInt32(&b, "done", 1);
    ZND_BusSendReply(ctx, req, ZND_BusBufMsg(&b));
    ZND_BusBufFree(&b);
    return 0;
}

int Denied(ZND_BusContext *, ZND_BusObject *, ZND_BusRequest *, const char *, ZND_BusMsg *)
{
    return ZND_BUS_STATUS_PERMISSION_DENIED;
}

int Twice(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *, ZND_BusMsg *)
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddString(&b, "reply", "first");
    ZND_BusSendReply(ctx, req, ZND_BusBufMsg(&b));
    ZND_BusBufInit(&b);
    ZND_BusAddString(&b, "reply", "second");
    g_second_reply_status = ZND_BusSendReply(ctx, req, ZND_BusBufMsg(&b));
    ZND_BusBufFree(&b);
    return 0;
}

const ZND_BusMethod kMethods[] = {
    ZND_BUS_METHOD_NOARG("echo", Echo),     ZND_BUS_METHOD_NOARG("status", Status),
    ZND_BUS_METHOD_NOARG("silent", Silent), ZND_BUS_METHOD_NOARG("slow", Slow),
    ZND_BUS_METHOD_NOARG("denied", Denied), ZND_BUS_METHOD_NOARG("twice", Twice),
};
ZND_BusObjectType g_test_type = ZND_BUS_OBJECT_TYPE("test", kMethods);
ZND_BusObject g_test = {"test", &g_test_type, kMethods, 6};
ZND_BusObject g_other = {"other", &g_test_type, kMethods, 1};

// Runs the loop until done() holds or timeout_ms passed.
bool Serve(std::function<bool()> done, int timeout_ms)
{
    return ZND_TestServeUntil(std::move(done), timeout_ms);
}

void ServeFor(int ms)
{
    int64_t until = ZND_LoopNow() + ms;
    Serve([until] { return ZND_LoopNow() >= until; }, ms + 1000);
}

CliResult Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), ZND_TEST_ZUNAROCTL);
    return RunCli(args);
}

int RawConnect(const char *path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path);
    if (connect(fd, (struct sockaddr *)&addr, sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends all of data from a non-blocking socket, letting the loop serve while the socket is full.
bool RawSend(int fd, const std::string &data)
{
    size_t off = 0;
    return Serve(
        [&] {
            for (;;) {
                if (off == data.size())
                    return true;
                ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
                if (n <= 0)
                    return false;
                off += (size_t)n;
            }
        },
        10000);
}

// Reads one answer line (without its newline) while the loop serves; "" when none came.
std::string RawAnswer(int fd, int timeout_ms = 10000)
{
    std::string line;
    bool eof = false;
    Serve(
        [&] {
            char buf[65536];
            for (;;) {
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n == 0)
                    eof = true;
                if (n <= 0)
                    return eof || line.find('\n') != std::string::npos;
                line.append(buf, (size_t)n);
            }
        },
        timeout_ms);
    size_t nl = line.find('\n');
    return nl == std::string::npos ? "" : line.substr(0, nl);
}

// True when the server closed the connection (after any answer it sent).
bool RawClosed(int fd)
{
    char buf[4096];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
    }
}

class BusTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        alarm(60);   // a loop that blocks on a client ends the test instead of hanging it
        g_echo_calls = 0;
        ASSERT_EQ(ZND_LoopInit(), 0);
        ctx_ = ZND_BusConnect(kSock);
        ASSERT_NE(ctx_, nullptr);
        ASSERT_EQ(ZND_BusAddObject(ctx_, &g_test), ZND_BUS_STATUS_OK);
        ASSERT_EQ(ZND_BusAddObject(ctx_, &g_other), ZND_BUS_STATUS_OK);
        ZND_BusAddUloop(ctx_);
    }
    void TearDown() override
    {
        ZND_BusFree(ctx_);
        ZND_LoopDone();
        alarm(0);
    }
    ZND_BusContext *ctx_ = nullptr;
};

TEST_F(BusTransport, EchoPrintsTheReplyByteForByte)
{
    CliResult r = Ctl({"-s", kSock, "call", "test", "echo",
                       "{\"n\":1,\"s\":\"1\",\"neg\":-5,\"big\":5000000000,\"t\":true,\"z\":null,\"f\":1.5,"
                       "\"esc\":\"a\\\"b\\n\",\"list\":[1,\"two\",{}],\"obj\":{\"e\":[]}}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "{\n"
              "\t\"n\": 1,\n"
              "\t\"s\": \"1\",\n"
              "\t\"neg\": -5,\n"
              "\t\"big\": 5000000000,\n"
              "\t\"t\": true,\n"
              "\t\"z\": null,\n"
              "\t\"f\": 1.500000,\n"
              "\t\"esc\": \"a\\\"b\\n\",\n"
              "\t\"list\": [\n"
              "\t\t1,\n"
              "\t\t\"two\",\n"
              "\t\t{\n"
              "\t\t\t\n"
              "\t\t}\n"
              "\t],\n"
              "\t\"obj\": {\n"
              "\t\t\"e\": [\n"
              "\t\t\t\n"
              "\t\t]\n"
              "\t}\n"
              "}\n");
    EXPECT_EQ(g_echo_calls, 1);

    // Without a message the handler gets an empty table.
    r = Ctl({"-s", kSock, "call", "test", "echo"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\n}\n");
}

TEST_F(BusTransport, DuplicateKeysReachTheClient)
{
    CliResult r = Ctl({"-s", kSock, "call", "test", "status"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"status\": \"3\",\n\t\"status\": \"LOGIN_OK\",\n\t\"method\": \"status\"\n}\n");
}

TEST_F(BusTransport, HandlerWithoutReplyPrintsNothing)
{
    CliResult r = Ctl({"-s", kSock, "call", "test", "silent", "{\"a\":1}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST_F(BusTransport, OnlyTheFirstReplyCounts)
{
    g_second_reply_status = 0;
    CliResult r = Ctl({"-s", kSock, "call", "test", "twice"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"reply\": \"first\"\n}\n");
    EXPECT_NE(g_second_reply_status, ZND_BUS_STATUS_OK);
}

TEST_F(BusTransport, FailedCallsExitWithTheirStatus)
{
    struct {
        std::vector<std::string> args;
        int exit;
        const char *err;
    } cases[] = {
        {{"-s", kSock, "call", "nobody", "echo"}, 4, "Command failed: Not found\n"},
        {{"-s", kSock, "call", "test", "Echo"}, 3, "Command failed: Method not found\n"},
        {{"-s", kSock, "call", "other", "status"}, 3, "Command failed: Method not found\n"},
        {{"-s", kSock, "call", "test", "denied"}, 6, "Command failed: Permission denied\n"},
        {{"-s", "/var/run/nobody.sock", "call", "test", "echo"}, 10, "Command failed: Connection failed\n"},
        {{"-s", "/var/run/no/such/dir.sock", "call", "test", "echo"}, 10, "Command failed: Connection failed\n"},
    };
    for (const auto &c : cases) {
        CliResult r = Ctl(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[3] << " " << c.args[4];
        EXPECT_EQ(r.err, c.err) << c.args[3] << " " << c.args[4];
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(g_echo_calls, 0);
}

TEST_F(BusTransport, BadMessageIsRefusedBeforeSending)
{
    for (const char *json : {"{\"a\":", "[1,2]", "\"text\"", ""}) {
        CliResult r = Ctl({"-s", kSock, "call", "test", "echo", json});
        EXPECT_EQ(r.exit, ZND_BUS_STATUS_PARSE_ERROR) << json;
        EXPECT_EQ(r.err, "Command failed: Parsing message data failed\n") << json;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(g_echo_calls, 0);

    // Usage errors are not calls either.
    for (std::vector<std::string> args : {std::vector<std::string>{"call", "test"},
                                          std::vector<std::string>{"-t", "x", "call", "test", "echo"},
                                          std::vector<std::string>{"frobnicate"}}) {
        CliResult r = Ctl(args);
        EXPECT_NE(r.exit, 0);
        EXPECT_NE(r.err.find("Usage"), std::string::npos);
    }
}

TEST_F(BusTransport, SlowHandlerTimesOutAndTheServerCarriesOn)
{
    CliResult r = Ctl({"-s", kSock, "-t", "1", "call", "test", "slow"});
    EXPECT_EQ(r.exit, 7);
    EXPECT_EQ(r.err, "Command failed: Request timed out\n");
    EXPECT_EQ(r.out, "");

    // The answer went to a client that had left; the next call is served as usual.
    r = Ctl({"-s", kSock, "call", "test", "echo", "{\"after\":\"timeout\"}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"after\": \"timeout\"\n}\n");
}

TEST_F(BusTransport, ListPrintsObjectNames)
{
    CliResult r = Ctl({"-s", kSock, "list"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "test\nother\n");
    EXPECT_EQ(ZND_BusAddObject(ctx_, &g_other), ZND_BUS_STATUS_INVALID_ARGUMENT);
}

TEST_F(BusTransport, SilentAndPartialClientsDoNotStallOthers)
{
    int silent = RawConnect(kSock);
    int partial = RawConnect(kSock);
    ASSERT_GE(silent, 0);
    ASSERT_GE(partial, 0);
    ZND_BusValue msg = BusSampleMessage();
    std::string line = ZND_BusWireCallLine("test", "echo", msg);
    size_t half = line.size() / 2;
    ASSERT_TRUE(RawSend(partial, line.substr(0, half)));

    // Timers keep firing while both are connected.
    ServeFor(50);

    CliResult r = Ctl({"-s", kSock, "call", "test", "echo", "{\"x\":\"y\"}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"x\": \"y\"\n}\n");
    EXPECT_EQ(g_echo_calls, 1);

    // The rest of the partial request arrives: it is answered from the buffered start.
    ASSERT_TRUE(RawSend(partial, line.substr(half)));
    std::string answer = RawAnswer(partial);
    int status = -1;
    bool has = false;
    ZND_BusValue back;
    ASSERT_TRUE(ZND_BusWireParseAnswer(answer.data(), answer.size(), &status, &back, &has)) << answer;
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(has);
    EXPECT_EQ(BusDiff(back, msg), "");
    EXPECT_TRUE(RawClosed(partial));
    EXPECT_FALSE(RawClosed(silent));
    close(partial);
    close(silent);
}

TEST_F(BusTransport, ClientThatDoesNotReadDoesNotStallOthers)
{
    // An answer far larger than a socket buffer, to a client that does not read it yet.
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddString(&b, "blob", std::string(700000, 'z').c_str());
    ZND_BusValue msg = b.root;
    ZND_BusBufFree(&b);
    int lazy = RawConnect(kSock);
    ASSERT_GE(lazy, 0);
    ASSERT_TRUE(RawSend(lazy, ZND_BusWireCallLine("test", "echo", msg)));
    ServeFor(50);
    EXPECT_EQ(g_echo_calls, 1);

    CliResult r = Ctl({"-s", kSock, "call", "test", "status"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"status\": \"3\",\n\t\"status\": \"LOGIN_OK\",\n\t\"method\": \"status\"\n}\n");

    std::string answer = RawAnswer(lazy);
    int status = -1;
    bool has = false;
    ZND_BusValue back;
    ASSERT_TRUE(ZND_BusWireParseAnswer(answer.data(), answer.size(), &status, &back, &has));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(BusDiff(back, msg), "");
    close(lazy);
}

TEST_F(BusTransport, ClientApiCarriesTypesAndLargeMessages)
{
    ZND_BusValue msg = BusSampleMessage();
    msg.items.pop_back();   // a NUL ends a string on the way
    msg.items.push_back(BusScalar(ZND_BUS_STRING, "blob"));
    msg.items.back().str.assign(600000, 'q');
    // JSON cannot carry a repeated name, and 64-bit values that fit 32 bits come back as such.
    std::string json = ZND_BusToJson(msg, false);
    ZND_BusValue sent;
    ASSERT_EQ(0, ZND_BusFromJson(json.c_str(), &sent));
    int rc = RunChild([&] {
        std::string reply;
        bool replied = false;
        if (ZND_BusClientCall(kSock, "test", "echo", json.c_str(), 5000, &reply, &replied) != 0 || !replied)
            return 1;
        if (reply != ZND_BusToJson(sent, true))
            return 2;
        if (ZND_BusClientCall(kSock, "test", "silent", json.c_str(), 5000, &reply, &replied) != 0 || replied)
            return 3;
        if (ZND_BusClientCall(kSock, "test", "slow", "{}", 300, &reply, &replied) != ZND_BUS_STATUS_TIMEOUT)
            return 4;
        ZND_TestWriteFile(kGaveUp, "");
        std::vector<std::string> names;
        if (ZND_BusClientList(kSock, 5000, &names) != 0 || names != std::vector<std::string>{"test", "other"})
            return 5;
        if (ZND_BusClientCall(kSock, "test", "echo", "[1]", 5000, &reply, &replied) != ZND_BUS_STATUS_PARSE_ERROR)
            return 6;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(g_echo_calls, 1);
}

TEST_F(BusTransport, MalformedRequestsAreAnsweredWithAnError)
{
    for (const char *req : {"garbage\n", "[\"call\",\"test\",\"echo\",[2,\"\",\"not a table\"]]\n",
                            "[\"reboot\"]\n"}) {
        int fd = RawConnect(kSock);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(RawSend(fd, req));
        std::string answer = RawAnswer(fd);
        int status = -1;
        bool has = true;
        ZND_BusValue back;
        ASSERT_TRUE(ZND_BusWireParseAnswer(answer.data(), answer.size(), &status, &back, &has)) << req;
        EXPECT_NE(status, 0) << req;
        EXPECT_FALSE(has);
        close(fd);
    }
    EXPECT_EQ(g_echo_calls, 0);
}

// The loop's clock, put forward by a test to age what the server has seen.
int64_t g_skew_ms = 0;
int64_t SkewedClock()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000 + g_skew_ms;
}

// Connects and lets the server take the connection; -1 when it could not connect.
int Accepted(const char *path)
{
    int fd = RawConnect(path);
    ServeFor(5);
    return fd;
}

TEST_F(BusTransport, FullTableDropsOnlyIdleConnectionsElseRefusesTheNewcomer)
{
    g_skew_ms = 0;
    ZND_LoopSetClock(SkewedClock);
    std::vector<int> fds;
    for (int i = 0; i < 32; i++) {
        fds.push_back(Accepted(kSock));
        ASSERT_GE(fds.back(), 0) << i;
    }
    // Every place is taken by a connection that has only just arrived: the newcomer is refused.
    int refused = Accepted(kSock);
    ServeFor(20);
    EXPECT_TRUE(RawClosed(refused));
    for (int fd : fds)
        EXPECT_FALSE(RawClosed(fd));

    // A while later all 32 are idle; all but the first then start sending their requests.
    g_skew_ms += 6000;
    std::string line = ZND_BusWireCallLine("test", "echo", BusSampleMessage());
    for (size_t i = 1; i < fds.size(); i++)
        ASSERT_TRUE(RawSend(fds[i], line.substr(0, 10)));
    ServeFor(20);
    // A call gets the idle one's place and is answered.
    CliResult r = Ctl({"-s", kSock, "call", "test", "echo", "{\"k\":1}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"k\": 1\n}\n");
    EXPECT_TRUE(RawClosed(fds[0]));
    // Its place is free again; after that only busy callers are left, and the next is refused.
    int taken = Accepted(kSock);
    int refused_again = Accepted(kSock);
    ServeFor(20);
    EXPECT_FALSE(RawClosed(taken));
    EXPECT_TRUE(RawClosed(refused_again));

    // Every caller that was on its way is answered.
    for (size_t i = 1; i < fds.size(); i++) {
        ASSERT_TRUE(RawSend(fds[i], line.substr(10))) << i;
        std::string answer = RawAnswer(fds[i]);
        int status = -1;
        bool has = false;
        ZND_BusValue back;
        ASSERT_TRUE(ZND_BusWireParseAnswer(answer.data(), answer.size(), &status, &back, &has)) << i;
        EXPECT_EQ(status, 0) << i;
    }
    for (int fd : fds)
        close(fd);
    close(refused);
    close(taken);
    close(refused_again);
    ZND_LoopSetClock(nullptr);
}

TEST_F(BusTransport, SilentClientIsDroppedAfterItsLifetime)
{
    int silent = RawConnect(kSock);
    ASSERT_GE(silent, 0);
    ServeFor(20);
    // One pending timeout: the connection's, about half a minute away.
    int64_t left = ZND_LoopNextDue() - ZND_LoopNow();
    EXPECT_GT(left, 25000);
    EXPECT_LE(left, 30000);
    EXPECT_FALSE(RawClosed(silent));
    {
        FakeClock clock;
        EXPECT_TRUE(clock.FireNext());
        EXPECT_TRUE(RawClosed(silent));
        while (clock.FireNext()) {
        }
    }
    close(silent);
}

// Socket file handling.

TEST_F(BusTransport, SocketIsOwnerOnlyAndRemovedOnFree)
{
    struct stat st;
    ASSERT_EQ(lstat(kSock, &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ZND_BusFree(ctx_);
    ctx_ = nullptr;
    EXPECT_FALSE(ZND_TestFileExists(kSock));
}

TEST_F(BusTransport, SecondServerOnTheSameSocketIsRefused)
{
    EXPECT_EQ(ZND_BusConnect(kSock), nullptr);
    // The first server is untouched.
    CliResult r = Ctl({"-s", kSock, "call", "test", "echo", "{\"still\":\"here\"}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"still\": \"here\"\n}\n");
}

TEST_F(BusTransport, StaleSocketFileIsReplaced)
{
    const char *path = "/var/run/stale.sock";
    // A socket file left behind by a server that is gone.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path);
    ASSERT_EQ(bind(fd, (struct sockaddr *)&addr, sizeof addr), 0);
    close(fd);
    ASSERT_TRUE(ZND_TestFileExists(path));

    ZND_BusContext *ctx = ZND_BusConnect(path);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(ZND_BusAddObject(ctx, &g_test), ZND_BUS_STATUS_OK);
    ZND_BusAddUloop(ctx);
    CliResult r = Ctl({"-s", path, "call", "test", "echo", "{\"fresh\":true}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"fresh\": true\n}\n");
    ZND_BusFree(ctx);
    EXPECT_FALSE(ZND_TestFileExists(path));
}

TEST_F(BusTransport, NonSocketFilesAndMissingDirectoriesFail)
{
    ASSERT_TRUE(ZND_TestWriteFile("/var/run/plain.sock", "keep me"));
    EXPECT_EQ(ZND_BusConnect("/var/run/plain.sock"), nullptr);
    EXPECT_EQ(ZND_TestReadFile("/var/run/plain.sock"), "keep me");
    EXPECT_EQ(ZND_BusConnect("/var/run/missing/bus.sock"), nullptr);
    EXPECT_EQ(ZND_BusConnect(("/var/run/" + std::string(200, 'x')).c_str()), nullptr);
}

TEST_F(BusTransport, ForeignFileAtThePathIsNotRemovedOnFree)
{
    const char *path = "/var/run/moved.sock";
    ZND_BusContext *ctx = ZND_BusConnect(path);
    ASSERT_NE(ctx, nullptr);
    unlink(path);
    ASSERT_TRUE(ZND_TestWriteFile(path, "someone else's"));
    ZND_BusFree(ctx);
    EXPECT_EQ(ZND_TestReadFile(path), "someone else's");
}

TEST_F(BusTransport, DefaultSocketServesZunaroctlWithoutOptions)
{
    ZND_BusContext *ctx = ZND_BusConnect(nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_TRUE(ZND_TestFileExists("/var/run/zunaro-bus.sock"));
    static ZND_BusObject zunaro = {"zunaro", &g_test_type, kMethods, 2};
    ASSERT_EQ(ZND_BusAddObject(ctx, &zunaro), ZND_BUS_STATUS_OK);
    ZND_BusAddUloop(ctx);
    CliResult r = Ctl({"call", "zunaro", "echo", "{\"id\":7}"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "{\n\t\"id\": 7\n}\n");
    r = Ctl({"list"});
    EXPECT_EQ(r.out, "zunaro\n");
    ZND_BusFree(ctx);
    EXPECT_FALSE(ZND_TestFileExists("/var/run/zunaro-bus.sock"));
}

} // namespace
