// The platform contract: what the domain relies on from the event loop (uloop), the bus (ubusd
// through libubus) and the configuration store (libuci). Runs in the sandbox: sockets under an
// empty /var/run, packages under /tmp.
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include "harness/child.h"
#include "harness/ubusd.h"
#include "harness/sandbox.h"
#include "platform/bus.h"
#include "platform/bus_client.h"
#include "platform/loop.h"
#include "platform/uci_store.h"

namespace {

// The loop keeps time in whole milliseconds: uloop fires a timeout once less than a millisecond
// is left, and orders timeouts less than a millisecond apart as it finds them. So "not early"
// holds to within one millisecond, and "in due order" to within two: one for the loop, one for
// the test's own reading of the clock before it arms a timeout.
constexpr int64_t kResolutionMs = 1;
constexpr int64_t kOrderSlackMs = 2;

// --- event loop ---------------------------------------------------------------------------------

struct Probe {
    ZND_Timeout t{};
    int id = 0;
    int64_t due = 0;
    int fired = 0;
    int64_t fired_at = -1;
};

std::vector<Probe> g_probes;
std::vector<int> g_order;
int g_remaining = 0;

Probe *probe_of(ZND_Timeout *t)
{
    for (auto &p : g_probes)
        if (&p.t == t)
            return &p;
    return nullptr;
}

void on_probe(ZND_Timeout *t)
{
    Probe *p = probe_of(t);
    p->fired++;
    p->fired_at = ZND_LoopNow();
    g_order.push_back(p->id);
    if (--g_remaining == 0)
        ZND_LoopCancel();
}

class Loop : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ZND_LoopInit()); }
    void TearDown() override { ZND_LoopDone(); }
};

TEST_F(Loop, HundredsOfTimersFireOnceInDueOrderNoneEarly)
{
    std::mt19937 rng(42);
    g_probes.assign(400, Probe{});
    g_order.clear();
    auto arm = [&](Probe &p, int ms) {
        p.t.cb = on_probe;
        p.due = ZND_LoopNow() + ms;
        ZND_TimeoutSet(&p.t, ms);
    };
    for (int i = 0; i < 400; i++) {
        g_probes[i].id = i;
        arm(g_probes[i], (int)(rng() % 300));
    }
    // Cancel every fourth, re-arm every third of the rest with a new delay.
    int live = 0;
    for (int i = 0; i < 400; i++) {
        if (i % 4 == 0) {
            EXPECT_EQ(0, ZND_TimeoutCancel(&g_probes[i].t));
            EXPECT_FALSE(ZND_TimeoutPending(&g_probes[i].t));
            EXPECT_EQ(-1, ZND_TimeoutCancel(&g_probes[i].t));
            continue;
        }
        if (i % 3 == 0)
            arm(g_probes[i], (int)(rng() % 300));
        live++;
    }
    g_remaining = live;
    ZND_LoopRun();

    ASSERT_EQ((size_t)live, g_order.size());
    for (auto &p : g_probes) {
        if (p.id % 4 == 0) {
            EXPECT_EQ(0, p.fired) << p.id;
            continue;
        }
        EXPECT_EQ(1, p.fired) << p.id;
        EXPECT_GE(p.fired_at, p.due - kResolutionMs) << "timer " << p.id << " fired early";
    }
    for (size_t i = 1; i < g_order.size(); i++) {
        const Probe &a = g_probes[g_order[i - 1]], &b = g_probes[g_order[i]];
        EXPECT_LE(a.due, b.due + kOrderSlackMs)
            << "timer " << a.id << " (due " << a.due << ") before " << b.id << " (due " << b.due << ")";
    }
}

int g_rearms = 0;
int64_t g_rearm_times[4];

void rearming(ZND_Timeout *t)
{
    g_rearm_times[g_rearms++] = ZND_LoopNow();
    if (g_rearms < 4)
        ZND_TimeoutSet(t, 20);
    else
        ZND_LoopCancel();
}

TEST_F(Loop, HandlerRearmsItsOwnTimeout)
{
    ZND_Timeout t{};
    t.cb = rearming;
    g_rearms = 0;
    int64_t start = ZND_LoopNow();
    ZND_TimeoutSet(&t, 20);
    EXPECT_TRUE(ZND_TimeoutPending(&t));
    EXPECT_GT(ZND_TimeoutRemaining(&t), 0);
    EXPECT_LE(ZND_TimeoutRemaining(&t), 20);
    ZND_LoopRun();
    ASSERT_EQ(4, g_rearms);
    for (int i = 0; i < 4; i++)
        EXPECT_GE(g_rearm_times[i], start + 20 * (i + 1) - kResolutionMs * (i + 1));
    EXPECT_FALSE(ZND_TimeoutPending(&t));
    EXPECT_EQ(-1, ZND_TimeoutRemaining(&t));
}

int g_reads = 0;

void on_readable(ZND_Fd *fd, unsigned int events)
{
    if (events & ZND_FD_READ) {
        char c;
        if (read(fd->fd, &c, 1) == 1)
            g_reads++;
    }
    if (g_reads == 2)
        ZND_LoopCancel();
}

int g_peer = -1;

void send_byte(ZND_Timeout *)
{
    ssize_t r = write(g_peer, "x", 1);
    (void)r;
}

TEST_F(Loop, DescriptorWatcherSeesData)
{
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    g_peer = sv[1];
    ZND_Fd fd{};
    fd.fd = sv[0];
    fd.cb = on_readable;
    ASSERT_EQ(0, ZND_FdAdd(&fd, ZND_FD_READ));
    EXPECT_NE(0, fcntl(sv[0], F_GETFL) & O_NONBLOCK) << "watched descriptors do not block";
    ZND_Timeout t1{}, t2{};
    t1.cb = t2.cb = send_byte;
    ZND_TimeoutSet(&t1, 10);
    ZND_TimeoutSet(&t2, 30);
    g_reads = 0;
    ZND_LoopRun();
    EXPECT_EQ(2, g_reads);
    EXPECT_EQ(0, ZND_FdDelete(&fd));
    close(sv[0]);
    close(sv[1]);
}

int g_edge_calls = 0;

void count_edge(ZND_Fd *, unsigned int)
{
    g_edge_calls++;   // reads nothing: level-triggered would call again and again
}

void stop_loop(ZND_Timeout *)
{
    ZND_LoopCancel();
}

TEST_F(Loop, EdgeTriggeredWatcherIsCalledOncePerArrival)
{
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM, 0, sv));
    ZND_Fd fd{};
    fd.fd = sv[0];
    fd.cb = count_edge;
    ASSERT_EQ(0, ZND_FdAdd(&fd, ZND_FD_READ | ZND_FD_EDGE_TRIGGER));
    ASSERT_EQ(1, write(sv[1], "a", 1));
    ZND_Timeout stop{};
    stop.cb = stop_loop;
    ZND_TimeoutSet(&stop, 100);
    g_edge_calls = 0;
    ZND_LoopRun();
    EXPECT_EQ(1, g_edge_calls);
    ZND_FdDelete(&fd);
    close(sv[0]);
    close(sv[1]);
}

void raise_term(ZND_Timeout *)
{
    raise(SIGTERM);
}

TEST_F(Loop, SigtermCancelsTheLoop)
{
    ZND_Timeout t{}, never{};
    t.cb = raise_term;
    never.cb = raise_term;
    ZND_TimeoutSet(&t, 10);
    ZND_TimeoutSet(&never, 60000);
    ZND_LoopRun();
    // The loop returned long before the other timeout was due.
    EXPECT_TRUE(ZND_TimeoutPending(&never));
    ZND_TimeoutCancel(&never);
}

// --- bus ----------------------------------------------------------------------------------------

const char kBusSock[] = "/var/run/contract-bus.sock";

int g_echo_calls;

int Echo(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *, ZND_BusMsg *msg)
{
    g_echo_calls++;
    return ZND_BusSendReply(ctx, req, msg);
}

// A reply the way the daemon builds its own: a repeated key, unnamed tables in an array, an empty
// table, null, and the members of another buffer copied in as a table.
int Build(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *method, ZND_BusMsg *)
{
    ZND_BusBuf fields = {}, reply = {};
    ZND_BusBufInit(&fields);
    ZND_BusAddString(&fields, "status", "3");
    ZND_BusAddString(&fields, "status", "LOGIN_OK");
    ZND_BusBufInit(&reply);
    ZND_BusOpenTable(&reply, "error");
    ZND_BusAddInt32(&reply, "code", -32601);
    ZND_BusAddTable(&reply, "data", ZND_BusBufMsg(&fields));
    ZND_BusClose(&reply);
    ZND_BusOpenArray(&reply, "nodes");
    ZND_BusOpenTable(&reply, nullptr);
    ZND_BusAddString(&reply, "nid", "1");
    ZND_BusAddInt32(&reply, "ping", 2147483647);
    ZND_BusClose(&reply);
    ZND_BusAddInt32(&reply, nullptr, -5);
    ZND_BusOpenTable(&reply, nullptr);
    ZND_BusClose(&reply);
    ZND_BusClose(&reply);
    ZND_BusOpenTable(&reply, "empty");
    ZND_BusClose(&reply);
    ZND_BusAddNull(&reply, "nothing");
    ZND_BusAddString(&reply, "method", method);
    ZND_BusBufFree(&fields);
    int rc = ZND_BusSendReply(ctx, req, ZND_BusBufMsg(&reply));
    ZND_BusBufFree(&reply);
    return rc;
}

// Parses the message with the daemon's request policy and tells what it found.
enum { F_METHOD, F_PARAMS, F_ID, F_COUNT };
const ZND_BusPolicy kRequestPolicy[F_COUNT] = {
    {"method", ZND_BUS_STRING},
    {"params", ZND_BUS_ARRAY},
    {"id", ZND_BUS_INT32},
};
const ZND_BusPolicy kParamsPolicy[4] = {
    {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
};

int Parse(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *, ZND_BusMsg *msg)
{
    ZND_BusMsg *tb[F_COUNT];
    ZND_BusBuf b = {};
    ZND_BusBufInit(&b);
    if (ZND_BusParse(kRequestPolicy, F_COUNT, tb, msg) != 0) {
        ZND_BusAddString(&b, "parse", "failed");
    } else {
        ZND_BusAddString(&b, "method", tb[F_METHOD] ? ZND_BusGetString(tb[F_METHOD]) : "(absent)");
        ZND_BusAddInt32(&b, "id", tb[F_ID] ? ZND_BusGetInt32(tb[F_ID]) : -1);
        ZND_BusMsg *slots[4];
        if (!tb[F_PARAMS]) {
            ZND_BusAddString(&b, "params", "(absent)");
        } else if (ZND_BusParseArray(kParamsPolicy, 4, slots, tb[F_PARAMS]) == 0) {
            ZND_BusOpenArray(&b, "params");
            for (ZND_BusMsg *slot : slots)
                ZND_BusAddString(&b, nullptr, slot ? ZND_BusGetString(slot) : "(empty)");
            ZND_BusClose(&b);
        }
    }
    int rc = ZND_BusSendReply(ctx, req, ZND_BusBufMsg(&b));
    ZND_BusBufFree(&b);
    return rc;
}

int Silent(ZND_BusContext *, ZND_BusObject *, ZND_BusRequest *, const char *, ZND_BusMsg *)
{
    return 0;
}

int Denied(ZND_BusContext *, ZND_BusObject *, ZND_BusRequest *, const char *, ZND_BusMsg *)
{
    return ZND_BUS_STATUS_PERMISSION_DENIED;
}

const ZND_BusMethod kMethods[] = {
    ZND_BUS_METHOD_NOARG("echo", Echo),     ZND_BUS_METHOD_NOARG("build", Build),
    ZND_BUS_METHOD("parse", Parse, kRequestPolicy), ZND_BUS_METHOD_NOARG("silent", Silent),
    ZND_BUS_METHOD_NOARG("denied", Denied),
};
ZND_BusObjectType g_test_type = ZND_BUS_OBJECT_TYPE("test", kMethods);

class Bus : public ::testing::Test {
protected:
    void SetUp() override
    {
        alarm(120);   // a loop that blocks on a client ends the test instead of hanging it
        g_echo_calls = 0;
        ASSERT_EQ(0, ZND_LoopInit());
        // The router's bus daemon, private to this test.
        ASSERT_TRUE(ubusd_.Start(kBusSock));
        ctx_ = ZND_BusConnect(kBusSock);
        ASSERT_NE(nullptr, ctx_);
        clients_ = {{ZND_TEST_UBUS_CLI, "-s", kBusSock}, {ZND_TEST_ZUNAROCTL, "-s", kBusSock}};
        object_ = ZND_BusObject{};
        object_.name = "test";
        object_.type = &g_test_type;
        object_.methods = kMethods;
        object_.n_methods = (int)(sizeof kMethods / sizeof kMethods[0]);
        ASSERT_EQ(ZND_BUS_STATUS_OK, ZND_BusAddObject(ctx_, &object_));
        ZND_BusAddUloop(ctx_);
    }
    void TearDown() override
    {
        if (ctx_)
            ZND_BusFree(ctx_);
        ubusd_.Stop();
        ZND_LoopDone();
        alarm(0);
    }

    // Calls test.METHOD through both command-line clients, ubus and zunaroctl; each must print the
    // same and exit the same way. The result of the first.
    CliResult Call(const std::string &method, const char *json = nullptr)
    {
        CliResult first{};
        for (size_t i = 0; i < clients_.size(); i++) {
            std::vector<std::string> args = clients_[i];
            args.insert(args.end(), {"call", "test", method});
            if (json)
                args.push_back(json);
            CliResult r = RunCli(args);
            if (i == 0) {
                first = r;
                continue;
            }
            EXPECT_EQ(first.out, r.out) << args[0] << " prints otherwise";
            EXPECT_EQ(first.exit == 0, r.exit == 0) << args[0] << " ends otherwise: " << r.err;
        }
        return first;
    }

    // Calls test.METHOD through the client library, its reply as a tree, written out in one line:
    // kind:name=value, the members of tables (t) and arrays (a) in braces; then the text of the
    // "status" that error.data holds last.
    std::string CallTree(const char *method, const char *json)
    {
        int status = RunChild([&] {
            ZND_BusReplyValue v;
            bool replied = false;
            int st = ZND_BusClientCallValue(kBusSock, "test", method, json, 5000, &v, nullptr, &replied);
            const ZND_BusReplyValue *e = v.Find("error"), *data = e ? e->Find("data") : nullptr;
            ZND_TestWriteFile("/tmp/tree.out", replied ? Dump(v) + " " + (data ? data->Text("status") : "-") : "none");
            return st;
        });
        EXPECT_EQ(0, status);
        return ZND_TestReadFile("/tmp/tree.out");
    }
    static std::string Dump(const ZND_BusReplyValue &v)
    {
        std::string out = std::string(1, "-snbdta"[v.kind]) + ":" + v.name;
        switch (v.kind) {
        case ZND_BusReplyValue::STRING:
            return out + "=" + v.text;
        case ZND_BusReplyValue::NUMBER:
        case ZND_BusReplyValue::BOOL:
            return out + "=" + std::to_string(v.number);
        case ZND_BusReplyValue::DOUBLE:
            return out + "=" + std::to_string(v.dbl);
        case ZND_BusReplyValue::TABLE:
        case ZND_BusReplyValue::ARRAY:
            out += "{";
            for (size_t i = 0; i < v.members.size(); i++)
                out += (i ? "," : "") + Dump(v.members[i]);
            return out + "}";
        default:
            return out;
        }
    }

    ZND_BusContext *ctx_ = nullptr;
    ZND_BusObject object_{};
    UbusdProcess ubusd_;
    std::vector<std::vector<std::string>> clients_;
};

TEST_F(Bus, EveryValueTypeRoundTripsAndPrintsAsTheRouterPrintsIt)
{
    CliResult r = Call("echo",
                       "{\"n\":1,\"s\":\"1\",\"neg\":-5,\"big\":5000000000,\"t\":true,\"z\":null,\"f\":1.5,"
                       "\"esc\":\"a\\\"b\\n\\u0001\\f/\\u00e9\",\"list\":[1,\"two\",{}],\"obj\":{\"e\":[]}}");
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("{\n"
              "\t\"n\": 1,\n"
              "\t\"s\": \"1\",\n"
              "\t\"neg\": -5,\n"
              "\t\"big\": 5000000000,\n"
              "\t\"t\": true,\n"
              "\t\"z\": null,\n"
              "\t\"f\": 1.500000,\n"
              "\t\"esc\": \"a\\\"b\\n\\u0001\\u000c/\xc3\xa9\",\n"
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
              "}\n",
              r.out);
    EXPECT_EQ((int)clients_.size(), g_echo_calls);
}

TEST_F(Bus, BuiltReplyKeepsOrderAndRepeatedKeys)
{
    CliResult r = Call("build");
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("{\n"
              "\t\"error\": {\n"
              "\t\t\"code\": -32601,\n"
              "\t\t\"data\": {\n"
              "\t\t\t\"status\": \"3\",\n"
              "\t\t\t\"status\": \"LOGIN_OK\"\n"
              "\t\t}\n"
              "\t},\n"
              "\t\"nodes\": [\n"
              "\t\t{\n"
              "\t\t\t\"nid\": \"1\",\n"
              "\t\t\t\"ping\": 2147483647\n"
              "\t\t},\n"
              "\t\t-5,\n"
              "\t\t{\n"
              "\t\t\t\n"
              "\t\t}\n"
              "\t],\n"
              "\t\"empty\": {\n"
              "\t\t\n"
              "\t},\n"
              "\t\"nothing\": null,\n"
              "\t\"method\": \"build\"\n"
              "}\n",
              r.out);
    // The same reply as a tree: unnamed members, repeated names (the last one found), every kind.
    EXPECT_EQ("t:{t:error{n:code=-32601,t:data{s:status=3,s:status=LOGIN_OK}},a:nodes{t:{s:nid=1,n:ping=2147483647},"
              "n:=-5,t:{}},t:empty{},-:nothing,s:method=build} LOGIN_OK",
              CallTree("build", nullptr));
    EXPECT_EQ("t:{n:big=5000000000,b:t=1,d:f=1.500000,-:z,a:l{s:=x}} -",
              CallTree("echo", "{\"big\":5000000000,\"t\":true,\"f\":1.5,\"z\":null,\"l\":[\"x\"]}"));
}

TEST_F(Bus, PolicyTakesTheFirstMemberOfItsTypeAndStringSlotsInOrder)
{
    // A repeated name: the first of the right type counts; members of another type are absent.
    CliResult r = Call("parse", "{\"id\":\"7\",\"method\":5,\"id\":3,\"params\":[1,\"a\",true,{\"x\":\"no\"},\"b\","
                                "[\"c\"],null,\"d\",\"e\"],\"extra\":\"x\"}");
    // JSON objects keep the last of a repeated name, so "id" arrives once: 3.
    EXPECT_EQ("{\n\t\"method\": \"(absent)\",\n\t\"id\": 3,\n\t\"params\": [\n\t\t\"a\",\n\t\t\"b\",\n\t\t\"d\",\n"
              "\t\t\"e\"\n\t]\n}\n",
              r.out);
    r = Call("parse", "{\"method\":\"Login\",\"id\":5000000000,\"params\":\"a\"}");
    EXPECT_EQ("{\n\t\"method\": \"Login\",\n\t\"id\": -1,\n\t\"params\": \"(absent)\"\n}\n", r.out);
    r = Call("parse", "{\"params\":[]}");
    EXPECT_EQ("{\n\t\"method\": \"(absent)\",\n\t\"id\": -1,\n\t\"params\": [\n\t\t\"(empty)\",\n"
              "\t\t\"(empty)\",\n\t\t\"(empty)\",\n\t\t\"(empty)\"\n\t]\n}\n",
              r.out);
    // An empty message does not parse.
    r = Call("parse", "{}");
    EXPECT_EQ("{\n\t\"parse\": \"failed\"\n}\n", r.out);
    r = Call("parse");
    EXPECT_EQ("{\n\t\"parse\": \"failed\"\n}\n", r.out);
}

TEST_F(Bus, PolicyOverABuiltMessage)
{
    // Repeated names in one message (JSON cannot carry them): the first of the right type wins.
    ZND_BusBuf b = {};
    ZND_BusBufInit(&b);
    ZND_BusAddInt32(&b, "method", 3);
    ZND_BusAddString(&b, "method", "first");
    ZND_BusAddInt32(&b, "id", 1);
    ZND_BusAddString(&b, "method", "second");
    ZND_BusAddInt32(&b, "id", 2);
    ZND_BusOpenArray(&b, "params");
    for (int i = 1; i <= 6; i++)
        ZND_BusAddString(&b, nullptr, std::to_string(i).c_str());
    ZND_BusClose(&b);
    ZND_BusAddString(&b, "name", "not an array");
    ZND_BusMsg *tb[F_COUNT];
    ASSERT_EQ(0, ZND_BusParse(kRequestPolicy, F_COUNT, tb, ZND_BusBufMsg(&b)));
    ASSERT_TRUE(tb[F_METHOD] && tb[F_PARAMS] && tb[F_ID]);
    EXPECT_STREQ("first", ZND_BusGetString(tb[F_METHOD]));
    EXPECT_EQ(1, ZND_BusGetInt32(tb[F_ID]));
    ZND_BusMsg *slots[4];
    ASSERT_EQ(0, ZND_BusParseArray(kParamsPolicy, 4, slots, tb[F_PARAMS]));
    for (int i = 0; i < 4; i++)
        EXPECT_STREQ(std::to_string(i + 1).c_str(), ZND_BusGetString(slots[i]));
    // Not an array: refused, every slot empty.
    const ZND_BusPolicy by_name[] = {{"name", ZND_BUS_STRING}};
    ZND_BusMsg *named[1];
    ASSERT_EQ(0, ZND_BusParse(by_name, 1, named, ZND_BusBufMsg(&b)));
    ASSERT_NE(nullptr, named[0]);
    EXPECT_EQ(-1, ZND_BusParseArray(kParamsPolicy, 4, slots, named[0]));
    for (ZND_BusMsg *slot : slots)
        EXPECT_EQ(nullptr, slot);
    ZND_BusBufFree(&b);

    ZND_BusBuf empty = {};
    ZND_BusBufInit(&empty);
    EXPECT_EQ(-1, ZND_BusParse(kRequestPolicy, F_COUNT, tb, ZND_BusBufMsg(&empty)));
    for (ZND_BusMsg *field : tb)
        EXPECT_EQ(nullptr, field);
    ZND_BusBufFree(&empty);
}

TEST_F(Bus, SilentHandlersFailuresAndUnknownTargets)
{
    CliResult r = Call("silent", "{\"a\":1}");
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("", r.out);

    for (const auto &target : {std::vector<std::string>{"test", "denied"}, std::vector<std::string>{"test", "Echo"},
                               std::vector<std::string>{"nobody", "echo"}}) {
        for (const auto &client : clients_) {
            std::vector<std::string> args = client;
            args.insert(args.end(), {"call", target[0], target[1], "{}"});
            r = RunCli(args);
            EXPECT_NE(0, r.exit) << args[0] << " " << target[0] << "." << target[1];
            EXPECT_EQ("", r.out);
        }
    }
    EXPECT_EQ(0, g_echo_calls);
}

TEST_F(Bus, ListShowsTheObject)
{
    for (const auto &client : clients_) {
        std::vector<std::string> args = client;
        args.push_back("list");
        CliResult r = RunCli(args);
        EXPECT_EQ(0, r.exit) << r.err;
        EXPECT_EQ("test\n", r.out) << args[0];
    }
}

// --- configuration store ------------------------------------------------------------------------

const char kNetwork[] =
    "# keep the LAN on the switch\n"
    "config interface 'lan'\n"
    "\toption ifname 'eth0'\n"
    "\toption proto 'static'\n"
    "\tlist dns '1.1.1.1'\n"
    "\tlist dns '9.9.9.9'\n"
    "\n"
    "config interface 'vpn'\n"
    "\toption proto 'pptp'\n"
    "\toption password \"old pass\"\n"
    "\n"
    "config switch_vlan\n"
    "\toption vlan '1'\n"
    "\tlist ports '0 1 2'\n";

std::vector<std::string> Entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Uci : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/uci_contract.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        ZND_UciSetConfDir(dir_.c_str());
        ASSERT_TRUE(ZND_TestWriteFile(Path("network"), kNetwork));
    }
    void TearDown() override
    {
        ZND_UciSetConfDir(nullptr);
        std::filesystem::remove_all(dir_);
        // A set leaves nothing behind outside the configuration directory either.
        EXPECT_EQ("", ZND_TestShOut("ls -A /tmp | grep '^\\.' || true"));
    }

    std::string Path(const std::string &pkg) const { return dir_ + "/" + pkg; }

    static std::string Get(const char *addr)
    {
        std::string v;
        int rc = ZND_UciGet(addr, &v);
        return rc == ZND_UCI_COMPLETE ? v : "<" + std::to_string(rc) + ">";
    }

    std::string dir_;
};

TEST_F(Uci, GetTellsCompleteIncompleteAndFailedLookups)
{
    std::string v = "untouched";
    EXPECT_EQ(ZND_UCI_COMPLETE, ZND_UciGet("network.lan.ifname", &v));
    EXPECT_EQ("eth0", v);
    EXPECT_EQ("old pass", Get("network.vpn.password"));

    v = "untouched";
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.lan.mtu", &v));      // no such option
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.wan.ifname", &v));   // no such section
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.lan.dns", &v));      // a list has no text value
    EXPECT_EQ("untouched", v);

    EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet("wireless.wifi.ssid", &v));   // no such package
    const char *malformed[] = {"", "network", "network.lan", "network.lan.ifname.x", ".lan.ifname",
                               "network..ifname", "network.lan.", "network.@interface[0].ifname",
                               "net-work.lan.ifname", "../network.lan.ifname", "network.lan.ifname=x",
                               "network.lan.if name"};
    for (const char *addr : malformed)
        EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet(addr, &v)) << addr;
    EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet(nullptr, &v));
    EXPECT_EQ("untouched", v);
}

TEST_F(Uci, UnloadablePackagesFailTheLookup)
{
    ASSERT_TRUE(ZND_TestWriteFile(Path("broken"), "config t 's'\n\toption a 'unterminated\n"));
    ASSERT_EQ(0, mkdir(Path("adir").c_str(), 0755));
    for (const char *addr : {"broken.s.a", "adir.s.a"}) {
        EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet(addr, nullptr)) << addr;
        EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciSet(addr, "v")) << addr;
    }
    EXPECT_EQ("config t 's'\n\toption a 'unterminated\n", ZND_TestReadFile(Path("broken")));
    EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciSet("nopkg.s.a", "v"));
    EXPECT_FALSE(ZND_TestFileExists(Path("nopkg")));
}

TEST_F(Uci, SetCommitsTheCanonicalTextOfThePackage)
{
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", "new pass"));
    EXPECT_EQ("new pass", Get("network.vpn.password"));
    // Comments go, every value is quoted; only the one value differs.
    EXPECT_EQ("\n"
              "config interface 'lan'\n"
              "\toption ifname 'eth0'\n"
              "\toption proto 'static'\n"
              "\tlist dns '1.1.1.1'\n"
              "\tlist dns '9.9.9.9'\n"
              "\n"
              "config interface 'vpn'\n"
              "\toption proto 'pptp'\n"
              "\toption password 'new pass'\n"
              "\n"
              "config switch_vlan\n"
              "\toption vlan '1'\n"
              "\tlist ports '0 1 2'\n"
              "\n",
              ZND_TestReadFile(Path("network")));
}

TEST_F(Uci, SetCreatesAnOptionAtTheEndOfItsSectionAndReplacesLists)
{
    ASSERT_EQ(0, ZND_UciSet("network.vpn.server", "192.0.2.1"));
    ASSERT_EQ(0, ZND_UciSet("network.lan.dns", "8.8.8.8"));
    EXPECT_EQ("192.0.2.1", Get("network.vpn.server"));
    EXPECT_EQ("8.8.8.8", Get("network.lan.dns"));
    std::string text = ZND_TestReadFile(Path("network"));
    EXPECT_NE(std::string::npos, text.find("\toption password 'old pass'\n\toption server '192.0.2.1'\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\toption proto 'static'\n\toption dns '8.8.8.8'\n\nconfig interface"))
        << "the list became a plain option in its place\n" << text;
}

TEST_F(Uci, AwkwardValuesReadBackAsWritten)
{
    const char *values[] = {"it's", "'\\''", "a \"b\" \\c", "#hash", "two\nlines", " spaced ", "\t"};
    for (const char *value : values) {
        ASSERT_EQ(0, ZND_UciSet("network.vpn.password", value)) << value;
        EXPECT_EQ(value, Get("network.vpn.password"));
    }
    EXPECT_EQ("pptp", Get("network.vpn.proto"));
}

TEST_F(Uci, AnEmptyValueIsNoValue)
{
    // In the file: read as missing, and gone after the next commit.
    ASSERT_TRUE(ZND_TestWriteFile(Path("userinfo"), "config userinfo '1'\n\toption nodename ''\n\toption reconn '1'\n"));
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("userinfo.1.nodename", nullptr));
    EXPECT_EQ("1", Get("userinfo.1.reconn"));
    ASSERT_EQ(0, ZND_UciSet("userinfo.1.reconn", "0"));
    EXPECT_EQ("\nconfig userinfo '1'\n\toption reconn '0'\n\n", ZND_TestReadFile(Path("userinfo")));

    // Set: the option goes.
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", ""));
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.vpn.password", nullptr));
    EXPECT_EQ(std::string::npos, ZND_TestReadFile(Path("network")).find("password"));
    EXPECT_EQ(0, ZND_UciSet("network.vpn.password", ""));   // already gone
    EXPECT_EQ("pptp", Get("network.vpn.proto"));
}

TEST_F(Uci, MissingSectionWritesNothing)
{
    struct stat st_before, st_after;
    ASSERT_EQ(0, stat(Path("network").c_str(), &st_before));
    EXPECT_EQ(1, ZND_UciSet("network.wan.ifname", "eth1"));
    EXPECT_EQ(1, ZND_UciSet("network.vpn.password", nullptr));
    ASSERT_EQ(0, stat(Path("network").c_str(), &st_after));
    EXPECT_EQ(kNetwork, ZND_TestReadFile(Path("network")));   // comments and all
    EXPECT_EQ(st_before.st_ino, st_after.st_ino);
    EXPECT_EQ((std::vector<std::string>{"network"}), Entries(dir_));
}

TEST_F(Uci, CommitReplacesTheFileWholeAndHandsTheNewTextToItsWaiters)
{
    // A uci tool that opened the package before the commit and waited for its lock reads the old
    // file: it must find the complete new text there, or it writes the old one back.
    int fd = open(Path("network").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct stat before;
    ASSERT_EQ(0, fstat(fd, &before));
    ASSERT_TRUE(ZND_TestWriteFile(Path("openvpn"), "config openvpn 'zunaro'\n\toption dev 'tun0'\n"));
    // What a writer killed in the middle of a commit left behind goes with the next commit.
    ASSERT_TRUE(ZND_TestWriteFile(Path(".network.zunaro-AbC123"), "config interface 'lan'\n"));
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", std::string(10000, 'p').c_str()));
    ASSERT_EQ(0, ZND_UciSet("openvpn.zunaro.remote", "192.0.2.1 1194"));

    struct stat after;
    ASSERT_EQ(0, stat(Path("network").c_str(), &after));
    EXPECT_NE(before.st_ino, after.st_ino) << "the new text is a new file renamed over the package";
    const std::string committed = ZND_TestReadFile(Path("network"));
    std::string seen(committed.size() + 100, '\0');
    ssize_t n = pread(fd, &seen[0], seen.size(), 0);
    close(fd);
    ASSERT_GE(n, 0);
    seen.resize((size_t)n);
    EXPECT_EQ(committed, seen);

    EXPECT_EQ(std::string(10000, 'p'), Get("network.vpn.password"));
    EXPECT_EQ("tun0", Get("openvpn.zunaro.dev"));
    EXPECT_EQ((std::vector<std::string>{"network", "openvpn"}), Entries(dir_));
}

// The uci tool gives up the lock before it renames its new file over the package; a set in
// between would read the text that the rename is about to replace, and one of the two commits
// would be lost. The set waits for the rename.
TEST_F(Uci, ASetWaitsForAWriterBetweenItsUnlockAndItsRename)
{
    const std::string theirs = Path(".network.uci-Xy12Ab");
    ASSERT_TRUE(ZND_TestWriteFile(theirs, std::string(kNetwork) + "\nconfig interface 'wan'\n\toption proto 'dhcp'\n"));
    std::thread other([&] {
        usleep(200 * 1000);
        rename(theirs.c_str(), Path("network").c_str());
    });
    EXPECT_EQ(0, ZND_UciSet("network.vpn.password", "mine"));
    other.join();
    EXPECT_EQ("dhcp", Get("network.wan.proto"));
    EXPECT_EQ("mine", Get("network.vpn.password"));
}

// A writer killed at any moment of its commits leaves the old or the new package, never one cut
// short or empty.
TEST_F(Uci, AKilledWriterNeverLeavesThePackageCut)
{
    std::string big = kNetwork;
    for (int i = 0; i < 2000; i++)
        big += "\nconfig host 'h" + std::to_string(i) + "'\n\toption name 'host " + std::to_string(i) + "'\n";
    ASSERT_TRUE(ZND_TestWriteFile(Path("network"), big));
    std::mt19937 rng(12345);
    for (int round = 0; round < 30; round++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; i++)
                ZND_UciSet("network.vpn.password", std::to_string(i).c_str());
        }
        usleep(std::uniform_int_distribution<int>(1000, 20000)(rng));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ("host 1999", Get("network.h1999.name"));
        EXPECT_EQ("pptp", Get("network.vpn.proto"));
        const std::string text = ZND_TestReadFile(Path("network"));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ('\n', text.back());
    }
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", "last"));
    EXPECT_EQ((std::vector<std::string>{"network"}), Entries(dir_));
}

TEST_F(Uci, CommitKeepsTheFileModeAndSymbolicLinks)
{
    ASSERT_TRUE(ZND_TestWriteFile(Path("network"), kNetwork, 0600));
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", "secret"));
    struct stat st;
    ASSERT_EQ(0, stat(Path("network").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);

    ASSERT_TRUE(ZND_TestWriteFile(Path("real_wireless"), "config wifi-iface 'wifi'\n\toption ssid 'a'\n", 0640));
    ASSERT_EQ(0, symlink("real_wireless", Path("wireless").c_str()));
    ASSERT_EQ(0, ZND_UciSet("wireless.wifi.ssid", "b"));
    ASSERT_EQ(0, lstat(Path("wireless").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(0, stat(Path("real_wireless").c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ("b", Get("wireless.wifi.ssid"));
    EXPECT_EQ((std::vector<std::string>{"network", "real_wireless", "wireless"}), Entries(dir_));
}

TEST_F(Uci, AnonymousSectionsAreNotAddressableButSurviveCommits)
{
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.switch_vlan.vlan", nullptr));
    EXPECT_EQ(1, ZND_UciSet("network.switch_vlan.vlan", "2"));
    ASSERT_EQ(0, ZND_UciSet("network.lan.proto", "dhcp"));
    EXPECT_NE(std::string::npos,
              ZND_TestReadFile(Path("network")).find("\nconfig switch_vlan\n\toption vlan '1'\n\tlist ports '0 1 2'\n"));
}

// The real uci tool on the same directory: what it commits reads right, what the store commits
// reads right with uci get, and what it only stages is neither read nor committed by the store.
TEST_F(Uci, TheUciToolAndTheStoreReadEachOthersCommits)
{
    // The tool stages in its usual place, /tmp/.uci.
    const std::string uci = std::string(ZND_TEST_UCI_CLI) + " -c " + dir_ + " ";
    ASSERT_EQ(0, ZND_TestSh(uci + "set network.vpn.server='203.0.113.7' && " + uci + "commit network"));
    EXPECT_EQ("203.0.113.7", Get("network.vpn.server"));
    ASSERT_EQ(0, ZND_UciSet("network.vpn.username", "it's me"));
    EXPECT_EQ("it's me\n", ZND_TestShOut(uci + "get network.vpn.username"));
    EXPECT_EQ("203.0.113.7\n", ZND_TestShOut(uci + "get network.vpn.server"));

    ASSERT_EQ(0, ZND_TestSh(uci + "set network.vpn.proto='l2tp'"));   // staged, not committed
    EXPECT_EQ("pptp", Get("network.vpn.proto"));
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", "x"));
    EXPECT_NE(std::string::npos, ZND_TestReadFile(Path("network")).find("\toption proto 'pptp'\n"));
    EXPECT_EQ("l2tp\n", ZND_TestShOut(uci + "get network.vpn.proto")) << "the tool's own change is still staged";
    ZND_TestSh("rm -rf /tmp/.uci");
}

// Commits that cannot complete leave the package file as it was and no temporary file behind.
// Root ignores permission bits, so the failures come from a read-only and from a full file system.
const char kUserinfo[] = "# provisioned by the factory\nconfig userinfo '1'\n\toption mode '1'\n\toption node '7'\n";

class UciCommitFailure : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ZND_TestSh("mkdir -p " + dir_)); }
    void TearDown() override
    {
        ZND_UciSetConfDir(nullptr);
        ZND_TestSh("umount " + dir_ + " 2>/dev/null");
    }

    // A small file system of its own at dir_ holding the package.
    void MountWithPackage(const std::string &options)
    {
        ASSERT_EQ(0, ZND_TestSh("mount -t tmpfs -o " + options + " cfg " + dir_));
        ASSERT_TRUE(ZND_TestWriteFile(dir_ + "/userinfo", kUserinfo));
        ZND_UciSetConfDir(dir_.c_str());
    }

    void ExpectUntouched()
    {
        EXPECT_EQ(kUserinfo, ZND_TestReadFile(dir_ + "/userinfo"));
        std::string v;
        EXPECT_EQ(ZND_UCI_COMPLETE, ZND_UciGet("userinfo.1.mode", &v));
        EXPECT_EQ("1", v);
    }

    std::string dir_ = "/tmp/cfg";
};

TEST_F(UciCommitFailure, ReadOnlyFileSystem)
{
    MountWithPackage("size=1m");
    ASSERT_EQ(0, ZND_TestSh("mount -o remount,ro " + dir_));
    EXPECT_EQ(1, ZND_UciSet("userinfo.1.mode", "3"));
    ExpectUntouched();
    EXPECT_EQ(std::vector<std::string>{"userinfo"}, Entries(dir_));
}

TEST_F(UciCommitFailure, FileSystemFullHalfwayThroughTheWrite)
{
    MountWithPackage("size=64k");
    // Leave a few kilobytes: the temporary file is created, its write runs out of space.
    ASSERT_EQ(0, ZND_TestSh("dd if=/dev/zero of=" + dir_ + "/filler bs=4k count=12 2>/dev/null"));
    EXPECT_EQ(1, ZND_UciSet("userinfo.1.mode", std::string(200 * 1024, 'x').c_str()));
    ExpectUntouched();
    EXPECT_EQ((std::vector<std::string>{"filler", "userinfo"}), Entries(dir_));

    // With the space back the same set goes through.
    ASSERT_EQ(0, unlink((dir_ + "/filler").c_str()));
    EXPECT_EQ(0, ZND_UciSet("userinfo.1.mode", "3"));
    std::string v;
    EXPECT_EQ(ZND_UCI_COMPLETE, ZND_UciGet("userinfo.1.mode", &v));
    EXPECT_EQ("3", v);
    EXPECT_EQ(std::vector<std::string>{"userinfo"}, Entries(dir_));
}

TEST(UciConfDir, DefaultsToEtcConfig)
{
    ZND_UciSetConfDir("/somewhere");
    EXPECT_STREQ("/somewhere", ZND_UciConfDir());
    ZND_UciSetConfDir(nullptr);
    EXPECT_STREQ("/etc/config", ZND_UciConfDir());
    ZND_UciSetConfDir("");
    EXPECT_STREQ("/etc/config", ZND_UciConfDir());
}

} // namespace
