// Load for a running daemon, used by scripts/soak inside the simulated router.
//
//   bus_soak requests N [--pid PID] [--seed S] [--max-growth-kb K]
//       N mixed requests to zunaro.rpc: valid ones, malformed ones, oversized ones, wrong types.
//       Every 10,000 it prints the requests per second and the daemon's resident memory; it fails
//       when a request goes unanswered or when the memory grew by more than K kB (default 1024)
//       between the first mark and the last.
//   bus_soak flood ADDRESS SECONDS
//       Datagrams to ADDRESS:7167 as fast as they go: discovery requests, junk, empty and
//       oversized ones. Prints how many were sent.
//   bus_soak answers SECONDS [--pid PID]
//       GetStatus, one after the other, for SECONDS; fails when one is not answered within 5 s.
//       Prints the number answered and the slowest answer.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>
#include "platform/bus.h"
#include "platform/bus_client.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

long rss_kb(int pid)
{
    if (pid <= 0)
        return -1;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    fclose(f);
    return kb;
}

// One call of zunaro.rpc: the request as JSON text, the reply as the bus client prints it.
int call_rpc(const std::string &json, std::string *reply, int timeout_ms = 30000)
{
    bool replied = false;
    int status = ZND_BusClientCall(nullptr, "zunaro", "rpc", json.c_str(), timeout_ms, reply, &replied);
    if (!replied)
        reply->clear();
    return status;
}

// --- requests ---------------------------------------------------------------------------------

struct Soak {
    std::mt19937 rng;
    long calls = 0, answered = 0, errors = 0;
    std::string last_failure;

    int pick(int n) { return (int)(rng() % (unsigned)n); }

    // Letters and digits, for texts inside JSON strings.
    std::string printable_text(size_t max)
    {
        std::string s(rng() % (max + 1), 'a');
        for (char &c : s)
            c = (char)('0' + rng() % 75);
        for (char &c : s)
            if (c == '\\')
                c = '/';
        return s;
    }

    static std::string repeat(const std::string &piece, int n)
    {
        std::string out;
        for (int i = 0; i < n; i++)
            out += piece;
        return out;
    }

    std::string random_text(size_t max)
    {
        std::string s(rng() % (max + 1), ' ');
        for (char &c : s)
            c = (char)(rng() % 256);
        return s;
    }

    // One call of zunaro.rpc with a JSON object; every call must be answered with a reply that is
    // a result or an error.
    void call_json(const std::string &json)
    {
        calls++;
        std::string reply;
        int status = call_rpc(json, &reply);
        bool is_error = reply.find("\"error\"") != std::string::npos;
        if (status == ZND_BUS_STATUS_OK && reply.find("\"id\"") != std::string::npos &&
            (is_error || reply.find("\"result\"") != std::string::npos)) {
            answered++;
            errors += is_error;
            return;
        }
        last_failure = "status " + std::to_string(status) + " for " + json.substr(0, 200);
    }

    void valid()
    {
        static const char *const queries[] = {"GetStatus", "GetAccState", "GetNodeList", "GetAccResult",
                                              "GetPingTime", "DebugOn", "DebugOff"};
        call_json(std::string("{\"method\":\"") + queries[pick(7)] + "\",\"id\":" + std::to_string(rng() % 100000) +
                  "}");
    }

    // Events the state refuses, and parameters that do not fit.
    void refused()
    {
        static const char *const texts[] = {
            R"({"method":"Login","params":["demo"],"id":3})",
            R"({"method":"AccStop","id":4})",
            R"({"method":"AccStart","params":["1","0",""],"id":5})",
            R"({"method":"NetDevChange","params":["lan"],"id":6})",
            R"({"method":"Login","params":[1,2],"id":7})",
        };
        call_json(texts[pick(5)]);
    }

    void malformed()
    {
        static const char *const texts[] = {
            R"({"id":1})",
            R"({"method":"logout","id":2})",
            R"({"method":"GetStatus","params":"not an array","id":3})",
            R"({"method":"GetStatus","params":[1,null,true,{"a":[]},[],2.5],"id":4})",
            R"({"method":"GetStatus","id":"5"})",
            R"({"method":"GetStatus","id":5000000000})",
            R"({"method":"GetStatus","id":1.5})",
            R"({"method":7,"params":[],"id":8})",
            R"({"method":"GetStatus","method":"Nope","id":9})",
            R"({"Method":"GetStatus","extra":{"deep":{"deeper":[1,2,3]}}})",
            R"({})",
        };
        call_json(texts[pick(11)]);
    }

    void oversized()
    {
        std::string params;
        switch (pick(3)) {
        case 0:
            for (int i = 0; i < 2000; i++)
                params += std::string(i ? "," : "") + "\"p\"";
            break;
        case 1:
            params = "\"" + std::string(96 * 1024, 'u') + "\",\"" + printable_text(4096) + "\"";
            break;
        default:
            params = std::string(25, '[') + std::string(25, ']');   // json-c reads 32 levels
            break;
        }
        call_json(std::string("{\"method\":\"") + (pick(2) ? "GetStatus" : "Login") + "\",\"params\":[" + params +
                  "],\"id\":99}");
    }

    void one()
    {
        int r = pick(100);
        if (r < 45)
            valid();
        else if (r < 60)
            refused();
        else if (r < 75)
            malformed();
        else if (r < 80)
            oversized();
        else
            malformed();
    }
};

int requests(long n, int pid, unsigned seed, long max_growth_kb)
{
    Soak s;
    s.rng.seed(seed);
    const long mark_every = 10000;
    long first_rss = -1, last_rss = -1;
    Clock::time_point start = Clock::now(), mark = start;
    for (long i = 1; i <= n; i++) {
        // The heavier path now and then: log out and in again (cloud, node probe, route lists).
        if (i % 2000 == 0) {
            s.call_json(R"({"method":"Logout","id":1})");
            s.call_json(R"({"method":"Login","params":["demo","zunaro-demo"],"id":2})");
        } else {
            s.one();
        }
        if (s.answered != s.calls) {
            fprintf(stderr, "request %ld not answered: %s\n", i, s.last_failure.c_str());
            return 1;
        }
        if (i % mark_every == 0 || i == n) {
            long rss = rss_kb(pid);
            double rate = (double)(i % mark_every ? i % mark_every : mark_every) / seconds_since(mark);
            printf("%8ld requests  %7.0f req/s  daemon RSS %6ld kB  (%ld error replies)\n", i, rate, rss,
                   s.errors);
            fflush(stdout);
            if (first_rss < 0)
                first_rss = rss;
            last_rss = rss;
            mark = Clock::now();
        }
    }
    printf("%ld requests in %.1f s, all answered", n, seconds_since(start));
    if (pid > 0) {
        printf("; daemon RSS %ld kB at the first mark, %ld kB at the last (%+ld kB)\n", first_rss, last_rss,
               last_rss - first_rss);
        if (first_rss < 0 || last_rss - first_rss > max_growth_kb) {
            printf("memory grew by more than %ld kB\n", max_growth_kb);
            return 1;
        }
    } else {
        printf("\n");
    }
    return 0;
}

// --- flood and answers ------------------------------------------------------------------------

int flood(const char *address, double seconds)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(7167);
    if (fd < 0 || inet_pton(AF_INET, address, &to.sin_addr) != 1) {
        fprintf(stderr, "flood: bad address %s\n", address);
        return 2;
    }
    std::mt19937 rng(7);
    std::vector<std::string> kinds = {"{\"code\":5}", "{\"code\":4}", "not json", "", std::string(1024, 'x'),
                                      std::string(60000, '{'), "{\"code\":5,\"pad\":\"" + std::string(900, 'p') + "\"}"};
    long sent = 0, bytes = 0;
    Clock::time_point start = Clock::now();
    while (seconds_since(start) < seconds) {
        for (int i = 0; i < 256; i++) {
            const std::string &d = kinds[rng() % kinds.size()];
            if (sendto(fd, d.data(), d.size(), 0, (struct sockaddr *)&to, sizeof to) >= 0) {
                sent++;
                bytes += (long)d.size();
            }
        }
    }
    printf("flood: %ld datagrams (%.1f MB) in %.1f s, %.0f per second\n", sent, bytes / 1e6, seconds_since(start),
           sent / seconds_since(start));
    return 0;
}

int answers(double seconds, int pid)
{
    long n = 0;
    double slowest = 0;
    long rss_before = rss_kb(pid);
    Clock::time_point start = Clock::now();
    while (seconds_since(start) < seconds) {
        Clock::time_point t = Clock::now();
        std::string reply;
        int status = call_rpc(R"({"method":"GetStatus","id":1})", &reply, 5000);
        double took = seconds_since(t);
        if (status != ZND_BUS_STATUS_OK || reply.find("\"result\"") == std::string::npos) {
            printf("answers: GetStatus %ld not answered within 5 s (status %d) after %.1f s\n", n + 1, status,
                   seconds_since(start));
            return 1;
        }
        slowest = took > slowest ? took : slowest;
        n++;
    }
    printf("answers: %ld GetStatus answered in %.1f s, slowest %.0f ms; daemon RSS %ld kB before, %ld kB after\n", n,
           seconds_since(start), slowest * 1000, rss_before, rss_kb(pid));
    return 0;
}

int usage()
{
    fprintf(stderr, "usage: bus_soak requests N [--pid PID] [--seed S] [--max-growth-kb K]\n"
                    "       bus_soak flood ADDRESS SECONDS\n"
                    "       bus_soak answers SECONDS [--pid PID]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    std::string mode = argv[1];
    int pid = 0;
    unsigned seed = 1;
    long max_growth_kb = 1024;
    int first_option = mode == "flood" ? 4 : 3;
    for (int i = first_option; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        if (opt == "--pid")
            pid = atoi(argv[i + 1]);
        else if (opt == "--seed")
            seed = (unsigned)strtoul(argv[i + 1], nullptr, 10);
        else if (opt == "--max-growth-kb")
            max_growth_kb = atol(argv[i + 1]);
        else
            return usage();
    }
    if (mode == "requests")
        return requests(atol(argv[2]), pid, seed, max_growth_kb);
    if (mode == "flood" && argc >= 4)
        return flood(argv[2], atof(argv[3]));
    if (mode == "answers")
        return answers(atof(argv[2]), pid);
    return usage();
}
