// zunaroctl: command-line client of the daemon's control bus.
//   zunaroctl [-s SOCKET] [-t TIMEOUT_S] call OBJECT METHOD [JSON]
//   zunaroctl [-s SOCKET] [-t TIMEOUT_S] list
// The exit code of a failed call is its bus status.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include "platform/bus.h"
#include "platform/bus_client.h"

namespace {

constexpr int kDefaultTimeoutS = 30;

int usage()
{
    fprintf(stderr,
            "Usage: zunaroctl [-s SOCKET] [-t TIMEOUT_S] call OBJECT METHOD [JSON]\n"
            "       zunaroctl [-s SOCKET] [-t TIMEOUT_S] list\n"
            "  -s SOCKET     bus socket (default %s)\n"
            "  -t TIMEOUT_S  seconds to wait for the answer (default %d, 0: no limit)\n",
            ZND_BUS_DEFAULT_SOCKET, kDefaultTimeoutS);
    return 1;
}

bool parse_timeout(const char *text, int *ms)
{
    errno = 0;
    char *end = nullptr;
    long s = strtol(text, &end, 10);
    if (errno || end == text || *end || s < 0 || s > INT_MAX / 1000)
        return false;
    *ms = (int)s * 1000;
    return true;
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
    const char *socket = nullptr;
    int timeout_ms = kDefaultTimeoutS * 1000;
    int opt;
    while ((opt = getopt(argc, argv, "+s:t:h")) != -1) {
        switch (opt) {
        case 's':
            socket = optarg;
            break;
        case 't':
            if (!parse_timeout(optarg, &timeout_ms))
                return usage();
            break;
        default:
            return usage();
        }
    }
    int n = argc - optind;
    char **args = argv + optind;
    if (n >= 3 && n <= 4 && strcmp(args[0], "call") == 0)
        return cmd_call(socket, timeout_ms, args[1], args[2], n == 4 ? args[3] : nullptr);
    if (n == 1 && strcmp(args[0], "list") == 0)
        return cmd_list(socket, timeout_ms);
    return usage();
}
