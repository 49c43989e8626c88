// Replies are matched to nodes by sequence number, so that ten nodes take about as long as one.
#include "cloud/node_ping.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <fcntl.h>
#include "cloud/icmp_echo.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "platform/clock.h"

#define ZND_ICMP_RECV_SIZE 512
#define ZND_PING_WAIT_MS 1000

namespace {

struct PingRun {
    int sock;
    uint16_t ident;
    uint32_t outstanding;   // requests sent and not yet matched, over all passes
    AccNodeServer *table;
};

void send_phase(PingRun *run)
{
    for (int i = 0; i < ZND_NODE_TABLE_SIZE && run->table[i].id != 0; i++) {
        AccNodeServer *node = &run->table[i];
        node->pingSeq = ++g_znd.icmpSeq;
        struct timeval now;
        gettimeofday(&now, nullptr);
        uint8_t pkt[ZND_ICMP_ECHO_SIZE];
        ZND_IcmpBuildEchoRequest(pkt, run->ident, node->pingSeq, &now);
        struct sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = inet_addr(node->cSvrIpv4);
        // A node that cannot be sent to (a host name, an empty or an unroutable address) counts
        // as not answering; the nodes after it are probed all the same.
        if (to.sin_addr.s_addr == INADDR_NONE) {
            ZND_DBG("node %s has no address to send an echo request to", node->cSvrIpv4);
            continue;
        }
        ssize_t n = sendto(run->sock, pkt, sizeof pkt, 0, reinterpret_cast<struct sockaddr *>(&to), sizeof to);
        if (n <= 0) {
            ZND_DBG("send echo request to %s failed: %s", node->cSvrIpv4, strerror(errno));
            continue;
        }
        run->outstanding++;
    }
}

AccNodeServer *node_of_seq(AccNodeServer *table, uint16_t seq)
{
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++)
        if (table[i].id != 0 && table[i].pingSeq == seq)
            return &table[i];
    return nullptr;
}

void record_time(AccNodeServer *node, uint32_t ms)
{
    // 0 means "never answered": an answer below a millisecond still counts as one.
    if (ms == 0)
        ms = 1;
    uint32_t old = node->ping ? node->ping : 0xFFFFFFFFu;
    node->ping = ms < old ? ms : old;
}

// Waits until the deadline for one datagram; false when the pass is over.
bool wait_readable(int sock, int64_t deadline)
{
    int64_t left = deadline - ZND_MonotonicMs();
    if (left <= 0)
        return false;
    struct pollfd pfd = {sock, POLLIN, 0};
    return poll(&pfd, 1, (int)left) > 0;
}

void wait_phase(PingRun *run)
{
    uint8_t buf[ZND_ICMP_RECV_SIZE];
    // Every matched reply earns a new full second of waiting. Datagrams that are not our replies
    // (the raw socket sees every ICMP message of the router: other pings, unreachables, our own
    // requests on loopback) are skipped within the current second, so they can neither end a pass
    // early nor keep it going.
    int64_t deadline = ZND_MonotonicMs() + ZND_PING_WAIT_MS;
    // Nothing outstanding means nothing can be matched: skip the wait.
    while (run->outstanding > 0) {
        if (!wait_readable(run->sock, deadline))
            return;
        memset(buf, 0, sizeof buf);
        ssize_t n = recv(run->sock, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        struct timeval now;
        gettimeofday(&now, nullptr);
        uint16_t seq = 0;
        struct timeval sent = {};
        ZND_IcmpVerdict v = ZND_IcmpReadReply(buf, (size_t)n, run->ident, &seq, &sent);
        if (v != ZND_ICMP_MATCH)
            continue;
        AccNodeServer *node = node_of_seq(run->table, seq);
        if (!node)
            continue;
        deadline = ZND_MonotonicMs() + ZND_PING_WAIT_MS;
        run->outstanding--;
        uint32_t ms = 0;
        if (ZND_IcmpRoundTripMs(&now, &sent, &ms))
            record_time(node, ms);
        else
            ZND_DBG("echo reply of %s carries an impossible send time, not counted", node->cSvrIpv4);
    }
}

} // namespace

uint32_t Ping_SynPingIpv4(AccNodeServer *table, int passes)
{
    if (!table) {
        ZND_DBG("The argument is error!!");
        return ZND_ERR_COMMON;
    }
    int sock = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (sock <= 0) {
        ZND_DBG("Create socket failed!");
        if (sock == 0)
            close(sock);
        return ZND_ERR_COMMON;
    }
    int flags = fcntl(sock, F_GETFL, 0);
    fcntl(sock, F_SETFL, flags | O_NONBLOCK);

    PingRun run = {sock, (uint16_t)(getpid() & 0xFFFF), 0, table};
    for (int pass = 0; pass < passes; pass++) {
        send_phase(&run);
        wait_phase(&run);
    }
    close(sock);
    return ZND_OK;
}
