#include <gtest/gtest.h>
#include "core/context.h"
#include "core/log.h"
#include "core/timer.h"
#include "harness/context_reset.h"
#include "harness/fake_clock.h"
#include "harness/log_capture.h"

namespace {

int g_fired = 0;
void count(ZND_Timeout *)
{
    g_fired++;
}

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        g_fired = 0;
    }
    void TearDown() override { ZND_ContextReset(); }
    FakeClock clock;
};

} // namespace

TEST_F(TimerTest, MissingTimerOrHandlerArmsNothing)
{
    EXPECT_EQ(1, ZND_SetTimer(nullptr, count, 10));
    EXPECT_EQ(1, ZND_SetTimer(&g_znd.restoreTimer, nullptr, 10));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.restoreTimer));
}

TEST_F(TimerTest, SetTimerArmsForTheGivenDelay)
{
    LogCapture cap;
    ZND_DebugOn();
    EXPECT_EQ(0, ZND_SetTimer(&g_znd.restoreTimer, count, 1000));
    EXPECT_TRUE(cap.Has("[ZND_DBG]  set timer ok"));
    clock.Advance(999);
    EXPECT_EQ(0, g_fired);
    clock.Advance(1);
    EXPECT_EQ(1, g_fired);
    clock.Advance(5000);
    EXPECT_EQ(1, g_fired);
}

TEST_F(TimerTest, AccTimerRearmedBeforeDueFiresOnceAtTheNewTime)
{
    ZND_SetAccTimer(count, 5000);
    clock.Advance(1000);
    ZND_SetAccTimer(count, 30000);
    clock.Advance(29999);
    EXPECT_EQ(0, g_fired);
    clock.Advance(1);
    EXPECT_EQ(1, g_fired);
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
}
