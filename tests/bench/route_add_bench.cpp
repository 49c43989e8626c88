// Installs generated networks into table 252 with add all, and the same routes with `ip -batch`
// for reference, in a private network namespace; prints both times, their ratio and the route
// set's heap bytes per network.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <string>
#include "core/context.h"
#include "harness/sandbox.h"
#include "platform/syslog.h"
#include "route/route_hash.h"
#include "route/route_sync.h"
#include "route/route_test_util.h"

namespace {

const char *kGateway = "192.168.7.1";
const int kRounds = 3;

void Quiet(int, const char *) {}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Network i as a /24 from 10.0.0.0 upward.
void Network(int i, char *ip, size_t size)
{
    snprintf(ip, size, "%d.%d.%d.0", 10 + i / 65536, (i / 256) % 256, i % 256);
}

size_t FillSet(ZND_RouteHash *set, int n)
{
    ZND_RouteHashInit(set);
    size_t before = mallinfo2().uordblks;
    ZND_RouteEntry e = {};
    snprintf(e.mask, sizeof e.mask, "255.255.255.0");
    for (int i = 0; i < n; i++) {
        Network(i, e.ip, sizeof e.ip);
        ZND_RouteHashAdd(set, &e);
    }
    return mallinfo2().uordblks - before;
}

bool WriteBatch(const char *path, int n)
{
    FILE *f = fopen(path, "w");
    if (!f)
        return false;
    char ip[16];
    for (int i = 0; i < n; i++) {
        Network(i, ip, sizeof ip);
        fprintf(f, "route add %s/24 via %s table 252 proto boot scope global\n", ip, kGateway);
    }
    return fclose(f) == 0;
}

long TableSize()
{
    return strtol(ZND_TestShOut("ip route show table 252 | wc -l").c_str(), nullptr, 10);
}

void Flush()
{
    ZND_TestSh("ip route flush table 252 2>/dev/null");
}

// Best of kRounds for each way, alternating so that both see the same machine state.
bool Run(int n)
{
    ZND_RouteHash set;
    size_t heap = FillSet(&set, n);
    if (RouteCount(&set) != (size_t)n || !WriteBatch("/tmp/routes.batch", n))
        return false;
    ClientRecord client = {};
    double ours = 1e9, reference = 1e9;
    for (int round = 0; round < kRounds; round++) {
        Flush();
        auto t0 = std::chrono::steady_clock::now();
        uint32_t rc = ZND_AddAllLoginRouteToKernel(&client, &set);
        ours = std::min(ours, Seconds(t0));
        if (rc != 0 || TableSize() != n) {
            fprintf(stderr, "add all: result %u, table holds %ld routes\n", rc, TableSize());
            return false;
        }
        Flush();
        t0 = std::chrono::steady_clock::now();
        int status = ZND_TestSh("ip -batch /tmp/routes.batch");
        reference = std::min(reference, Seconds(t0));
        if (status != 0 || TableSize() != n) {
            fprintf(stderr, "ip -batch: status %d, table holds %ld routes\n", status, TableSize());
            return false;
        }
    }
    Flush();
    printf("%6d networks: add all %8.1f ms (%5.2f us/route), ip -batch %8.1f ms, ratio %.2f, set heap %.1f bytes/network\n",
           n, ours * 1e3, ours * 1e6 / n, reference * 1e3, ours / reference, (double)heap / n);
    ZND_RouteHashClear(&set);
    return true;
}

} // namespace

int main()
{
    std::string why;
    if (ZND_TestEnterSandbox(&why) != 0) {
        fprintf(stderr, "route_add_bench: needs its own network namespace: %s\n", why.c_str());
        return 77;
    }
    ZND_LogSetSink(Quiet);
    if (!ZND_TestWriteFile("/etc/iproute2/rt_tables",
                           "255\tlocal\n254\tmain\n253\tdefault\n0\tunspec\n252 login\n251 traffic\n") ||
        ZND_TestSh(std::string("ip tuntap add wan0 mode tap && ip link set wan0 up && "
                               "ip addr add 192.168.7.2/24 dev wan0 && ip route add default via ") +
                   kGateway) != 0) {
        fprintf(stderr, "route_add_bench: cannot set up the namespace\n");
        return 1;
    }
    printf("route add all vs ip -batch, table 252, best of %d\n", kRounds);
    for (int n : {10000, 50000})
        if (!Run(n))
            return 1;
    return 0;
}
