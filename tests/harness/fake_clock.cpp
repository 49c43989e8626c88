#include "harness/fake_clock.h"

#include "platform/loop.h"

namespace {
int64_t g_now = 1000000;
}

FakeClock::FakeClock()
{
    ZND_LoopSetClock(&FakeClock::Now);
}

FakeClock::~FakeClock()
{
    ZND_LoopSetClock(nullptr);
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
    for (int64_t due = ZND_LoopNextDue(); due >= 0 && due <= target; due = ZND_LoopNextDue()) {
        if (due > g_now)
            g_now = due;
        fired += ZND_LoopRunDueTimeouts();
    }
    if (target > g_now)
        g_now = target;
    return fired;
}

bool FakeClock::FireNext()
{
    int64_t due = ZND_LoopNextDue();
    if (due < 0)
        return false;
    if (due > g_now)
        g_now = due;
    ZND_LoopRunDueTimeouts();
    return true;
}
