// The event loop keeps its timers: every armed timeout fires once, in due order, never early;
// cancelled ones never fire; a handler can re-arm its own timeout; descriptors and signals work.
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>
#include "platform/loop.h"

namespace {

struct Probe {
    ZND_Timeout t{};
    int id = 0;
    int64_t due = 0;
    int64_t armed_seq = 0;
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

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ZND_LoopInit()); }
    void TearDown() override { ZND_LoopDone(); }
};

TEST_F(LoopTest, HundredsOfTimersFireOnceInDueOrderNoneEarly)
{
    std::mt19937 rng(42);
    g_probes.assign(400, Probe{});
    g_order.clear();
    int64_t seq = 0;
    auto arm = [&](Probe &p, int ms) {
        p.t.cb = on_probe;
        int64_t before = ZND_LoopNow();
        ZND_TimeoutSet(&p.t, ms);
        // The loop's own due time: the clock may tick between the two readings.
        p.due = p.t.due_ms;
        EXPECT_GE(p.due, before + ms);
        p.armed_seq = seq++;
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
        EXPECT_GE(p.fired_at, p.due) << "timer " << p.id << " fired early";
    }
    for (size_t i = 1; i < g_order.size(); i++) {
        const Probe &a = g_probes[g_order[i - 1]], &b = g_probes[g_order[i]];
        EXPECT_TRUE(a.due < b.due || (a.due == b.due && a.armed_seq < b.armed_seq))
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

TEST_F(LoopTest, HandlerRearmsItsOwnTimeout)
{
    ZND_Timeout t{};
    t.cb = rearming;
    g_rearms = 0;
    int64_t start = ZND_LoopNow();
    ZND_TimeoutSet(&t, 20);
    EXPECT_TRUE(ZND_TimeoutPending(&t));
    EXPECT_GT(ZND_TimeoutRemaining(&t), 0);
    ZND_LoopRun();
    ASSERT_EQ(4, g_rearms);
    for (int i = 0; i < 4; i++)
        EXPECT_GE(g_rearm_times[i], start + 20 * (i + 1));
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

} // namespace

TEST_F(LoopTest, DescriptorWatcherSeesData)
{
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    g_peer = sv[1];
    ZND_Fd fd{};
    fd.fd = sv[0];
    fd.cb = on_readable;
    ASSERT_EQ(0, ZND_FdAdd(&fd, ZND_FD_READ));
    ZND_Timeout t1{}, t2{};
    t1.cb = t2.cb = send_byte;
    ZND_TimeoutSet(&t1, 10);
    ZND_TimeoutSet(&t2, 30);
    g_reads = 0;
    ZND_LoopRun();
    EXPECT_EQ(2, g_reads);
    ZND_FdDelete(&fd);
    close(sv[0]);
    close(sv[1]);
}

namespace {
int g_edge_calls = 0;
void count_edge(ZND_Fd *, unsigned int)
{
    g_edge_calls++;   // reads nothing: level-triggered would call again and again
}
void stop_loop(ZND_Timeout *)
{
    ZND_LoopCancel();
}
} // namespace

TEST_F(LoopTest, EdgeTriggeredWatcherIsCalledOncePerArrival)
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

namespace {
void raise_term(ZND_Timeout *)
{
    raise(SIGTERM);
}
} // namespace

TEST_F(LoopTest, SigtermCancelsTheLoop)
{
    ZND_Timeout t{}, never{};
    t.cb = raise_term;
    never.cb = raise_term;
    ZND_TimeoutSet(&t, 10);
    ZND_TimeoutSet(&never, 60000);
    int64_t start = ZND_LoopNow();
    ZND_LoopRun();
    EXPECT_LT(ZND_LoopNow() - start, 5000);
    EXPECT_TRUE(ZND_TimeoutPending(&never));
    ZND_TimeoutCancel(&never);
}
