#include "harness/serve_until.h"

#include "platform/loop.h"

namespace {

std::function<bool()> g_done;
int64_t g_deadline;
bool g_met;

void check(ZND_Timeout *t)
{
    if (g_done()) {
        g_met = true;
        ZND_LoopCancel();
    } else if (ZND_LoopNow() >= g_deadline) {
        ZND_LoopCancel();
    } else {
        ZND_TimeoutSet(t, 2);
    }
}

} // namespace

bool ZND_TestServeUntil(std::function<bool()> done, int timeout_ms)
{
    g_done = std::move(done);
    g_met = false;
    g_deadline = ZND_LoopNow() + timeout_ms;
    ZND_Timeout t = {};
    t.cb = check;
    ZND_TimeoutSet(&t, 0);
    ZND_LoopRun();
    ZND_TimeoutCancel(&t);
    g_done = nullptr;
    return g_met;
}
