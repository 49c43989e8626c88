// Time of the node probe: five passes over ten nodes, with three that never answer (each pass
// then waits its full second) and with all ten answering (each pass lasts one round trip).
// Needs root: it builds its own namespaces, with a responder that answers after a fixed delay.
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include "cloud/node_ping.h"
#include "core/context.h"
#include "harness/context_reset.h"
#include "harness/sandbox.h"
#include "icmp_lab.h"

namespace {

const int kPasses = 5;
const int kDelayMs = 30;

double run(AccNodeServer *table)
{
    auto t0 = std::chrono::steady_clock::now();
    Ping_SynPingIpv4(table, kPasses);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void fill(AccNodeServer *table)
{
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++) {
        table[i] = AccNodeServer{};
        table[i].id = (uint32_t)(i + 1);
        snprintf(table[i].cSvrIpv4, sizeof table[i].cSvrIpv4, "%s", IcmpLab::NodeAddr(i + 1).c_str());
    }
}

} // namespace

int main()
{
    std::string why;
    if (ZND_TestEnterSandbox(&why) != 0) {
        fprintf(stderr, "ping_bench: %s\n", why.c_str());
        return 77;
    }
    IcmpLab lab;
    if (!lab.Build(ZND_NODE_TABLE_SIZE, &why)) {
        fprintf(stderr, "ping_bench: %s\n", why.c_str());
        return 1;
    }
    std::map<std::string, IcmpLab::Answer> answers;
    for (int i = 1; i <= 7; i++)
        answers[IcmpLab::NodeAddr(i)] = {{kDelayMs}};
    lab.StartResponder(answers);
    ZND_ContextReset();
    AccNodeServer table[ZND_NODE_TABLE_SIZE];
    fill(table);
    double silent = run(table);
    double bound = kPasses * 1.0;
    printf("ten nodes, three silent, %d passes: %.3f s; lower bound %d one-second waits: %.3f s; ratio %.3f\n",
           kPasses, silent, kPasses, bound, silent / bound);

    lab.StopResponder();
    for (int i = 8; i <= 10; i++)
        answers[IcmpLab::NodeAddr(i)] = {{kDelayMs}};
    lab.StartResponder(answers);
    fill(table);
    double all = run(table);
    double trips = kPasses * kDelayMs / 1000.0;
    printf("ten nodes answering after %d ms, %d passes: %.3f s; %d round trips: %.3f s; ratio %.3f\n", kDelayMs,
           kPasses, all, kPasses, trips, all / trips);
    unsigned best = 0xFFFFFFFFu, worst = 0;
    for (const auto &n : table) {
        best = n.ping < best ? n.ping : best;
        worst = n.ping > worst ? n.ping : worst;
    }
    printf("measured round trips: %u to %u ms\n", best, worst);
    return 0;
}
