// The whole daemon in one process, driven by a sequence taken from the input: bus requests
// (valid, malformed, of wrong types), cloud replies (canned, failing, arbitrary bytes), timer ticks
// of the fake clock, WAN, tunnel, gateway and kernel faults, and restarts after a kill. The shell
// and the kernel tables are a model (support/fake_router.h); the node probe and the LAN
// notifications run in the sandbox's empty network namespace. After every step:
//  - the reply has the layout every client relies on (rpc_reply_check.h);
//  - the state is one the daemon can be in, and a logged-out daemon has no timer armed;
//  - a daemon that stopped accelerating (INIT or LOGIN_OK) left no route in tables 252 and 251,
//    unless it was killed since (routes survive a kill, and a restore that fails leaves them);
//  - there is never more than one policy rule at pref 99 or at pref 100;
// and at the end every UCI package file that the daemon replaced still loads with libuci. The
// packages live in a directory of their own, on the sandbox's /run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "cloud/node_list.h"
#include "config/account.h"
#include "config/uci.h"
#include "control/restore.h"
#include "control/rpc.h"
#include "control/state.h"
#include "core/context.h"
#include "core/paths.h"
#include "core/timer.h"
#include "fake_router.h"
#include "harness/cloud_replies.h"
#include "fuzz_env.h"
#include "harness/context_reset.h"
#include "harness/fake_clock.h"
#include "harness/sandbox.h"
#include "platform/bus.h"
#include "platform/file.h"
#include "platform/uci_store.h"
#include "route/route_sync.h"
#include "rpc_reply_check.h"

extern "C" {
#include <uci.h>
}

namespace {

// The daemon's UCI packages (its configuration directory).
const char kUciDir[] = "/run/zunaro-fuzz-config";

const char *const kMethods[] = {"Login",       "Logout",       "AccStart",     "AccStop",  "AccRestart",
                                "GetStatus",   "GetNodeList",  "GetPingTime",  "FlushNodeList",
                                "GetAccResult", "GetAccState", "ForceOffLine", "NetDevChange",
                                "DebugOn",     "DebugOff",     "logout",       "Login "};

const char *const kWords[] = {"0",     "1",       "2",      "3",        "4",        "5",           "7",
                              "8",     "9",       "10",     "-1",       "4294967296", "tokyo",     "osaka",
                              "seoul", "nowhere", "demo",   "secret",   "tun0",     "ipsec0",      "l2tp-vpn",
                              "pptp-vpn", "wan",  "lan",    "up",       "down",     "",            "a'b\"c\nd|e"};

const char *const kDevices[] = {"tun0", "ipsec0", "l2tp-vpn", "pptp-vpn"};

const char *const kSavedStates[] = {"INIT", "LOGIN_OK", "ACCING", "ACC_OK", "LOGING", ""};

const char *const kApis[] = {"/api/softlogin", "/api/cfgcontrol", "/api/gamelist", "/api/forceoffline"};

const char kLoginRoutes[] = "{\"code\":0,\"version\":\"1\",\"gamelist\":[{\"gid\":757,\"sroute\":"
                            "[\"10.0.0.0:255.0.0.0\",\"203.0.113.0:255.255.255.0\"]}]}";
const char kTrafficRoutes[] = "{\"code\":0,\"version\":\"1\",\"rules\":[{\"gid\":757,\"servers\":"
                              "[{\"mrange\":[\"10.20.0.0:255.255.0.0\",\"198.18.0.0:255.254.0.0\"]}]}]}";

struct Session {
    FuzzedDataProvider *in;
    std::string trace;      // the steps so far, for the report of a broken property
    bool killed = false;    // a restart happened: routes of the killed daemon may remain
};

// The files of the router that the daemon reads and writes. Each input starts from the same
// files; only those the previous input changed (a replace makes a new inode) are written again.
struct WorldFile {
    std::string path;
    const char *package;   // nullptr: not a UCI package
    std::string content;
    struct stat written;
};

std::vector<WorldFile> g_world;

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool changed(const WorldFile &f)
{
    struct stat st;
    return stat(f.path.c_str(), &st) != 0 || !same_file(st, f.written);
}

void put_world_file(WorldFile *f, const std::string &content)
{
    if (!changed(*f) && f->content == content)
        return;
    f->content = content;
    int fd = open(f->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, content.data(), content.size()) != (ssize_t)content.size() || close(fd) != 0 ||
        stat(f->path.c_str(), &f->written) != 0) {
        perror(f->path.c_str());
        abort();
    }
}

void write_world(const char *saved_state)
{
    if (g_world.empty()) {
        for (const char *package : {"userinfo", "network", "wireless", "openvpn"})
            g_world.push_back(WorldFile{std::string(kUciDir) + "/" + package, package, "", {}});
        g_world.push_back(WorldFile{ZND_PATH_IPSEC_CONF, nullptr, "", {}});
    }
    put_world_file(&g_world[0], std::string("config userinfo '1'\n"
                                            "\toption historyname 'demo'\n"
                                            "\toption historypass 'secret'\n"
                                            "\toption mode '1'\n\toption node '0'\n"
                                            "\toption nodename ''\n\toption reconn '1'\n"
                                            "\toption currState '") +
                                    saved_state + "'\n");
    put_world_file(&g_world[1], "config interface 'lan'\n\toption ipaddr '127.0.0.1'\n"
                                "\toption netmask '255.0.0.0'\n\n"
                                "config interface 'wan'\n\toption ifname 'eth0'\n\n"
                                "config interface 'vpn'\n\toption proto 'none'\n");
    put_world_file(&g_world[2], "config wifi-iface 'wifi'\n\toption ssid 'zunaro'\n");
    put_world_file(&g_world[3], "config openvpn 'zunaro'\n\toption enabled '1'\n");
    put_world_file(&g_world[4], "conn zunaro\n\teap_identity=x\n\tright=0.0.0.0\n");
}

// The reset forgets the context's bus buffers (blob_bufs): they are freed first.
void reset_context()
{
    ZND_BusBufFree(&g_znd.replyBuf);
    ZND_BusBufFree(&g_znd.resultBuf);
    ZND_ContextReset();
}

// What main does before it runs the loop, apart from the bus and the discovery socket.
void start_daemon()
{
    reset_context();
    memset(&g_znd.client, 0, sizeof g_znd.client);
    ZND_NodeTableClear();
    CFGI_ReadUserAccountInfo(&g_znd.client);
    CFGI_ReadUserAccSetting(&g_znd.client);
    ZND_LocalRouteTabInit();
    ZND_SetTimer(&g_znd.restoreTimer, ZND_AbnormalRestoreTimerHandler, 1000);
}

// The same from a copy of what the first start read: every input starts from the same files, so
// the start reads the same record and lists (restarts within an input run the real start).
void start_daemon_again()
{
    static ClientRecord client;
    static ZND_RouteHash login, traffic;
    static bool taken = false;
    if (!taken) {
        start_daemon();
        client = g_znd.client;
        ZND_RouteHashInit(&login);
        ZND_RouteHashInit(&traffic);
        ZND_RouteHashCopy(&login, ZND_GetLoginRouteSet());
        ZND_RouteHashCopy(&traffic, ZND_GetTrafficRouteSet());
        taken = true;
        return;
    }
    reset_context();
    g_znd.client = client;
    ZND_RouteHashInit(ZND_GetLoginRouteSet());
    ZND_RouteHashInit(ZND_GetTrafficRouteSet());
    ZND_RouteHashCopy(ZND_GetLoginRouteSet(), &login);
    ZND_RouteHashCopy(ZND_GetTrafficRouteSet(), &traffic);
    ZND_SetTimer(&g_znd.restoreTimer, ZND_AbnormalRestoreTimerHandler, 1000);
}

// One string parameter from the vocabulary, or bytes from the input; sometimes a number instead.
void add_param(Session *s, ZND_BusBuf *b)
{
    FuzzedDataProvider &in = *s->in;
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        ZND_BusAddInt32(b, nullptr, in.ConsumeIntegral<int32_t>());
        s->trace += " #";
        return;
    case 1: {
        std::string text = in.ConsumeRandomLengthString(300);
        ZND_BusAddString(b, nullptr, text.c_str());
        s->trace += " '" + text + "'";
        return;
    }
    default: {
        const char *w = kWords[in.ConsumeIntegralInRange<size_t>(0, sizeof kWords / sizeof *kWords - 1)];
        ZND_BusAddString(b, nullptr, w);
        s->trace += std::string(" ") + w;
        return;
    }
    }
}

void request(Session *s)
{
    FuzzedDataProvider &in = *s->in;
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    size_t m = in.ConsumeIntegralInRange<size_t>(0, sizeof kMethods / sizeof *kMethods);
    if (m < sizeof kMethods / sizeof *kMethods)
        ZND_BusAddString(&b, "method", kMethods[m]);
    s->trace += std::string("request ") + (m < sizeof kMethods / sizeof *kMethods ? kMethods[m] : "-");
    int shape = in.ConsumeIntegralInRange(0, 9);
    if (shape == 0) {
        ZND_BusAddString(&b, "params", "not an array");
    } else if (shape > 1) {
        ZND_BusOpenArray(&b, "params");
        for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; n--)
            add_param(s, &b);
        ZND_BusClose(&b);
    }
    if (in.ConsumeBool())
        ZND_BusAddInt32(&b, "id", in.ConsumeIntegral<int32_t>());

    uint32_t before = ZND_GetState();
    ZND_RequestHandler(nullptr, &g_znd.rpcObject, nullptr, "rpc", ZND_BusBufMsg(&b));
    s->trace += std::string("  -> ") + ZND_GetStateName(ZND_GetState()) + "\n";
    ZND_FuzzCheckRpcReply(ZND_BusBufMsg(&b), ZND_BusBufMsg(&g_znd.replyBuf), s->trace);
    // The client of a request that changed the state records the state its reply reports, as the
    // router does; a restart restores from it.
    if (ZND_GetState() != before)
        UCI_SetCfgInfo("userinfo", "1", "currState", ZND_GetStateName(ZND_GetState()));
    ZND_BusBufFree(&b);
}

void cloud_reply(Session *s)
{
    FuzzedDataProvider &in = *s->in;
    const char *api = kApis[in.ConsumeIntegralInRange(0, 3)];
    FakeRouter::CloudReply r;
    int kind = in.ConsumeIntegralInRange(0, 6);
    switch (kind) {
    case 0: r.body = kLoginOk; break;
    case 1: r.body = kLoginInUse; break;
    case 2: r.body = kLoginRefused; break;
    case 3: r.exit_code = 7; break;
    case 4: r.write_file = false; break;
    default: r.body = in.ConsumeRandomLengthString(600); break;
    }
    // The canned bodies are those of the API asked for, except where the kind says otherwise.
    if (kind == 0 && strcmp(api, "/api/cfgcontrol") == 0)
        r.body = kNodesXml;
    if (kind == 0 && strcmp(api, "/api/gamelist") == 0)
        r.body = kGamesXml;
    if (kind == 0 && strcmp(api, "/api/forceoffline") == 0)
        r.body = "{\"code\":0}";
    g_router.cloud[api] = r;
    s->trace += std::string("cloud ") + api + " " + std::to_string(kind) + " '" + r.body + "'\n";
}

void fault(Session *s)
{
    FuzzedDataProvider &in = *s->in;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        g_router.wan_up = !g_router.wan_up;
        s->trace += std::string("wan ") + (g_router.wan_up ? "up\n" : "down\n");
        return;
    case 1: {
        const char *dev = kDevices[in.ConsumeIntegralInRange(0, 3)];
        if (!g_router.reachable.erase(dev))
            g_router.reachable.insert(dev);
        s->trace += std::string("far end of ") + dev + (g_router.reachable.count(dev) ? " answers\n" : " silent\n");
        return;
    }
    case 2:
        g_router.has_gateway = !g_router.has_gateway;
        s->trace += std::string("gateway ") + (g_router.has_gateway ? "back\n" : "gone\n");
        return;
    default:
        g_router.kernel_refusals = in.ConsumeIntegralInRange(1, 3);
        s->trace += "kernel refuses " + std::to_string(g_router.kernel_refusals) + "\n";
        return;
    }
}

void tick(Session *s, FakeClock *clock)
{
    int ms = s->in->ConsumeIntegralInRange(0, 35000);
    s->trace += "time +" + std::to_string(ms) + "ms\n";
    clock->Advance(ms);
}

// What a daemon killed while accelerating leaves behind: OpenVPN running, its routes installed.
void left_accelerating(Session *s)
{
    g_router.running.insert("openvpn");
    snprintf(g_znd.client.accTun, sizeof g_znd.client.accTun, "tun0");
    ZND_AddAllLoginRouteToKernel(&g_znd.client, ZND_GetLoginRouteSet());
    ZND_AddAllTrafficRouteToKernel(&g_znd.client, ZND_GetTrafficRouteSet());
    g_znd.client.accTun[0] = '\0';
    s->killed = true;
    s->trace += "openvpn left running, " + std::to_string(g_router.Routes(252)) + " login and " +
                std::to_string(g_router.Routes(251)) + " traffic routes left\n";
}

void restart(Session *s)
{
    s->trace += "kill -9, start\n";
    s->killed = true;
    start_daemon();
}

void check_state(const Session &s)
{
    uint32_t state = ZND_GetState();
    ZND_FUZZ_CHECK(state == ZND_STATE_INIT || state == ZND_STATE_LOGIN_OK || state == ZND_STATE_ACCING ||
                       state == ZND_STATE_ACC_OK,
                   s.trace);
    ZND_FUZZ_CHECK(state != ZND_STATE_INIT || !ZND_TimeoutPending(&g_znd.accTimer),
                   "timer armed while logged out\n" + s.trace);
    if (!s.killed && (state == ZND_STATE_INIT || state == ZND_STATE_LOGIN_OK))
        ZND_FUZZ_CHECK(g_router.Routes(252) == 0 && g_router.Routes(251) == 0,
                       "routes left in " + std::string(ZND_GetStateName(state)) + ": " +
                           std::to_string(g_router.Routes(252)) + " login, " +
                           std::to_string(g_router.Routes(251)) + " traffic\n" + s.trace);
    for (const auto &rule : g_router.rules)
        ZND_FUZZ_CHECK(rule.second <= 1, "rule at pref " + std::to_string(rule.first) + " added " +
                                             std::to_string(rule.second) + " times\n" + s.trace);
}

// The UCI packages that the daemon replaced must still be whole: not empty, and libuci loads them
// (a fresh context, whose parser is strict).
void check_config_files(const Session &s)
{
    for (const WorldFile &f : g_world) {
        if (!f.package || !changed(f))
            continue;
        std::string text, error;
        bool read = ZND_FileRead(f.path.c_str(), &text) && !text.empty();
        struct uci_context *ctx = uci_alloc_context();
        struct uci_package *pkg = nullptr;
        bool loads = ctx && uci_set_confdir(ctx, kUciDir) == UCI_OK && uci_load(ctx, f.package, &pkg) == UCI_OK;
        if (ctx && !loads) {
            char *why = nullptr;
            uci_get_errorstr(ctx, &why, nullptr);
            error = why ? why : "";
            free(why);
        }
        if (ctx)
            uci_free_context(ctx);
        ZND_FUZZ_CHECK(read && loads, f.path + ": " + error + "\n" + text + "\n" + s.trace);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ZND_FuzzEnterSandbox();
    ZND_FuzzQuietLog();
    // The daemon's own directories on tmpfs: the writes of millions of runs stay cheap. The UCI
    // packages are on the sandbox's /run, a tmpfs already.
    if (ZND_TestSh("for d in /etc/openvpn /etc/zunaro; do mount -t tmpfs fuzz $d || exit 1; done") != 0 ||
        mkdir(kUciDir, 0755) != 0)
        abort();
    ZND_UciSetConfDir(kUciDir);
    // The tunnel devices exist, so that routes through them can be asked for.
    if (ZND_TestSh("for d in tun0 ipsec0 l2tp-vpn pptp-vpn; do ip link add $d type veth peer name $d-p || exit 1; "
                   "done") != 0)
        abort();
    ZND_TestWriteFile(ZND_PATH_LOGIN_ROUTE_LIST, kLoginRoutes);
    ZND_TestWriteFile(ZND_PATH_TRAFFIC_ROUTE_LIST, kTrafficRoutes);
    g_router.Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FakeClock clock;
    FuzzedDataProvider in(data, size);
    Session s{&in, "", false};
    g_router.Reset();
    const char *saved = kSavedStates[in.ConsumeIntegralInRange<size_t>(0, sizeof kSavedStates / sizeof *kSavedStates - 1)];
    write_world(saved);
    s.trace = std::string("saved state '") + saved + "'\n";
    start_daemon_again();
    if (strcmp(saved, "ACC_OK") == 0 || strcmp(saved, "ACCING") == 0)
        left_accelerating(&s);

    for (int step = 0; step < 24 && in.remaining_bytes() > 0; step++) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0: case 1: case 2: case 3:
            request(&s);
            break;
        case 4: case 5:
            tick(&s, &clock);
            break;
        case 6:
            cloud_reply(&s);
            break;
        case 7: case 8:
            fault(&s);
            break;
        default:
            restart(&s);
            break;
        }
        check_state(s);
    }
    check_config_files(s);
    // ZUNARO_FUZZ_TRACE=1 shows what an input does (for example a seed, or a crash being replayed).
    static const bool show = getenv("ZUNARO_FUZZ_TRACE") != nullptr;
    if (show)
        fprintf(stderr, "%s=> %s, %zu login and %zu traffic routes\n", s.trace.c_str(),
                ZND_GetStateName(ZND_GetState()), g_router.Routes(252), g_router.Routes(251));

    reset_context();
    unlink(ZND_PATH_KEY_LOG);
    return 0;
}
