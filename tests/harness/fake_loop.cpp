// The event loop of the unit tests that step time: platform/loop.h over libubox's own records.
// Timeouts are uloop_timeout records kept in a list of this file, due on a clock that only moves
// when a test advances it (FakeClock); descriptor watchers are uloop's, on real descriptors.
#include "harness/fake_clock.h"

#include "platform/loop.h"

namespace {

int64_t g_now = 1000000;
LIST_HEAD(g_timeouts);
bool g_cancelled;

int64_t due_ms(const ZND_Timeout *t)
{
    return (int64_t)t->time.tv_sec * 1000 + t->time.tv_usec / 1000;
}

ZND_Timeout *first_due()
{
    return list_empty(&g_timeouts) ? nullptr : list_first_entry(&g_timeouts, ZND_Timeout, list);
}

// Fires the timeouts due by now, in due order (equal times in the order they were set).
int run_due()
{
    int fired = 0;
    for (ZND_Timeout *t = first_due(); t && due_ms(t) <= g_now && !g_cancelled; t = first_due()) {
        ZND_TimeoutCancel(t);
        fired++;
        if (t->cb)
            t->cb(t);
    }
    return fired;
}

} // namespace

int ZND_LoopInit()
{
    g_cancelled = false;
    return uloop_init();
}

// Time runs only as far as the next timeout each round: the loop ends when cancelled or idle.
void ZND_LoopRun()
{
    while (!g_cancelled && first_due()) {
        if (due_ms(first_due()) > g_now)
            g_now = due_ms(first_due());
        run_due();
    }
    g_cancelled = false;
}

void ZND_LoopCancel()
{
    g_cancelled = true;
}

void ZND_LoopDone()
{
    while (ZND_Timeout *t = first_due())
        ZND_TimeoutCancel(t);
    uloop_done();
}

int64_t ZND_LoopNow()
{
    return g_now;
}

int ZND_TimeoutSet(ZND_Timeout *t, int ms)
{
    if (t->pending)
        ZND_TimeoutCancel(t);
    int64_t due = g_now + (ms < 0 ? 0 : ms);
    t->time.tv_sec = (time_t)(due / 1000);
    t->time.tv_usec = (suseconds_t)(due % 1000 * 1000);
    struct list_head *before = &g_timeouts;
    ZND_Timeout *cur;
    list_for_each_entry(cur, &g_timeouts, list) {
        if (due_ms(cur) > due) {
            before = &cur->list;
            break;
        }
    }
    list_add_tail(&t->list, before);
    t->pending = true;
    return 0;
}

int ZND_TimeoutCancel(ZND_Timeout *t)
{
    if (!t->pending)
        return -1;
    list_del(&t->list);
    t->pending = false;
    return 0;
}

bool ZND_TimeoutPending(const ZND_Timeout *t)
{
    return t->pending;
}

int64_t ZND_TimeoutRemaining(const ZND_Timeout *t)
{
    if (!t->pending)
        return -1;
    int64_t left = due_ms(t) - g_now;
    return left < 0 ? 0 : left;
}

int ZND_FdAdd(ZND_Fd *fd, unsigned int flags)
{
    return uloop_fd_add(fd, flags);
}

int ZND_FdDelete(ZND_Fd *fd)
{
    return uloop_fd_delete(fd);
}

int64_t FakeClock::Now()
{
    return g_now;
}

void FakeClock::Spend(int64_t ms)
{
    g_now += ms;
}

int FakeClock::Advance(int64_t ms)
{
    int64_t target = g_now + ms;
    int fired = 0;
    for (ZND_Timeout *t = first_due(); t && due_ms(t) <= target; t = first_due()) {
        if (due_ms(t) > g_now)
            g_now = due_ms(t);
        fired += run_due();
    }
    if (target > g_now)
        g_now = target;
    return fired;
}

bool FakeClock::FireNext()
{
    ZND_Timeout *t = first_due();
    if (!t)
        return false;
    if (due_ms(t) > g_now)
        g_now = due_ms(t);
    run_due();
    return true;
}
