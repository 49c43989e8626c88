// zunaroctl: command-line client of the daemon's control bus, for people and for scripts.
// `call` and `list` exit with the bus status of a failed call; the other commands with the
// codes of commands.h.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>
#include <unistd.h>
#include "commands.h"
#include "core/paths.h"
#include "platform/bus.h"
#include "platform/bus_client.h"

namespace {

constexpr int kDefaultTimeoutS = 30;
constexpr int kDefaultWaitS = 120;

void print_usage(FILE *out)
{
    fprintf(out,
            "Usage: zunaroctl [OPTIONS] COMMAND [ARGS]\n"
            "Commands:\n"
            "  status                      state, acceleration, mode and account\n"
            "  login USER                  log in; the password is read from the terminal without\n"
            "                              echo, or from the first line of standard input\n"
            "  logout                      log out (stops acceleration)\n"
            "  nodes                       the acceleration nodes, best first\n"
            "  start [MODE] [NODE] [--no-reconnect] [--wait S]\n"
            "                              start acceleration and show its progress until ACC_OK or\n"
            "                              a failure, at most S seconds (default %d, 0: do not wait);\n"
            "                              MODE auto (default), openvpn, ipsec, l2tp or pptp; NODE an\n"
            "                              id or a name from `nodes` (default: the best)\n"
            "  stop                        stop acceleration\n"
            "  result                      node, mode, ping and loss of the acceleration\n"
            "  log                         the key log (%s)\n"
            "  debug on|off                the daemon's debug logging\n"
            "  call OBJECT METHOD [JSON]   a raw bus call, its reply as printed by the bus tool\n"
            "  list                        the objects on the bus\n"
            "Options:\n"
            "  -s SOCKET     bus socket (default %s)\n"
            "  -t TIMEOUT_S  seconds to wait for each answer (default %d, 0: no limit)\n"
            "  -j, --json    print the daemon's replies as they are\n"
            "  -h, --help    this text\n"
            "Login, logout, start and stop record the state the daemon reports in userinfo.1.currState\n"
            "(login also the account, start the settings), which the daemon reads to restore itself\n"
            "after an abnormal exit.\n"
            "Exit codes: 0 done; 1 usage or no password; 2 refused by the daemon, or no such node;\n"
            "3 zunarod not running; 4 acceleration failed; 5 no outcome within the wait; 6 bus failure\n"
            "(time-out, no answer); 7 done but the state could not be recorded. `call` and `list` exit\n"
            "with the bus status of a failed call.\n",
            kDefaultWaitS, ZND_PATH_KEY_LOG, ZND_BUS_DEFAULT_SOCKET, kDefaultTimeoutS);
}

int usage()
{
    print_usage(stderr);
    return ZCTL_EXIT_USAGE;
}

bool parse_seconds(const char *text, int *s)
{
    errno = 0;
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (errno || end == text || *end || v < 0 || v > INT_MAX / 1000)
        return false;
    *s = (int)v;
    return true;
}

bool parse_timeout(const char *text, int *ms)
{
    int s = 0;
    if (!parse_seconds(text, &s))
        return false;
    *ms = s * 1000;
    return true;
}

// start [MODE] [NODE] [--no-reconnect] [--wait S]
int cmd_start(const ZCTL_Options &o, int n, char **args)
{
    int mode = 0, wait = kDefaultWaitS, positional = 0;
    bool reconnect = true;
    std::string node;
    for (int i = 1; i < n; i++) {
        if (strcmp(args[i], "--no-reconnect") == 0) {
            reconnect = false;
        } else if (strcmp(args[i], "--wait") == 0) {
            if (++i >= n || !parse_seconds(args[i], &wait))
                return usage();
        } else if (positional == 0 && ZCTL_ModeByName(args[i]) >= 0) {
            mode = ZCTL_ModeByName(args[i]);
            positional = 1;
        } else if (positional < 2 && args[i][0] != '-' && args[i][0] != '\0') {
            node = args[i];
            positional = 2;
        } else {
            return usage();
        }
    }
    return ZCTL_Start(o, mode, node, reconnect, wait);
}

int run(const ZCTL_Options &o, int n, char **args)
{
    const char *cmd = args[0];
    if (strcmp(cmd, "status") == 0 && n == 1)
        return ZCTL_Status(o);
    if (strcmp(cmd, "login") == 0 && n == 2)
        return ZCTL_Login(o, args[1]);
    if (strcmp(cmd, "logout") == 0 && n == 1)
        return ZCTL_Logout(o);
    if (strcmp(cmd, "nodes") == 0 && n == 1)
        return ZCTL_Nodes(o);
    if (strcmp(cmd, "start") == 0)
        return cmd_start(o, n, args);
    if (strcmp(cmd, "stop") == 0 && n == 1)
        return ZCTL_Stop(o);
    if (strcmp(cmd, "result") == 0 && n == 1)
        return ZCTL_Result(o);
    if (strcmp(cmd, "log") == 0 && n == 1)
        return ZCTL_Log();
    if (strcmp(cmd, "debug") == 0 && n == 2 && (strcmp(args[1], "on") == 0 || strcmp(args[1], "off") == 0))
        return ZCTL_Debug(o, strcmp(args[1], "on") == 0);
    return usage();
}

// Statuses outside the exit code range still end with a failure code.
int exit_code(int status)
{
    return (status > 0 && status < 256) ? status : ZND_BUS_STATUS_UNKNOWN_ERROR;
}

int fail(int status)
{
    fprintf(stderr, "Command failed: %s\n", ZND_BusStrError(status));
    return exit_code(status);
}

int cmd_call(const char *socket, int timeout_ms, const char *object, const char *method, const char *json)
{
    std::string reply;
    bool replied = false;
    int status = ZND_BusClientCall(socket, object, method, json, timeout_ms, &reply, &replied);
    if (replied) {
        reply.push_back('\n');
        fwrite(reply.data(), 1, reply.size(), stdout);
        fflush(stdout);
    }
    return status == ZND_BUS_STATUS_OK ? 0 : fail(status);
}

int cmd_list(const char *socket, int timeout_ms)
{
    std::vector<std::string> names;
    int status = ZND_BusClientList(socket, timeout_ms, &names);
    if (status != ZND_BUS_STATUS_OK)
        return fail(status);
    for (const auto &name : names)
        printf("%s\n", name.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    ZCTL_Options o;
    o.timeoutMs = kDefaultTimeoutS * 1000;
    static const struct option longopts[] = {
        {"json", no_argument, nullptr, 'j'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int opt;
    while ((opt = getopt_long(argc, argv, "+s:t:jh", longopts, nullptr)) != -1) {
        switch (opt) {
        case 's':
            o.socket = optarg;
            break;
        case 't':
            if (!parse_timeout(optarg, &o.timeoutMs))
                return usage();
            break;
        case 'j':
            o.json = true;
            break;
        case 'h':
            print_usage(stdout);
            return ZCTL_EXIT_OK;
        default:
            return usage();
        }
    }
    int n = argc - optind;
    char **args = argv + optind;
    if (n == 0)
        return usage();
    if (n >= 3 && n <= 4 && strcmp(args[0], "call") == 0)
        return cmd_call(o.socket, o.timeoutMs, args[1], args[2], n == 4 ? args[3] : nullptr);
    if (n == 1 && strcmp(args[0], "list") == 0)
        return cmd_list(o.socket, o.timeoutMs);
    return run(o, n, args);
}
