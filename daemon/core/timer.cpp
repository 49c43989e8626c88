#include "core/timer.h"

#include "core/context.h"
#include "core/log.h"

int ZND_SetTimer(ZND_Timeout *timer, ZND_TimeoutHandler handler, int ms)
{
    if (!timer || !handler)
        return 1;
    // The record is cleared below; a pending timer must leave the loop's list first.
    if (ZND_TimeoutPending(timer))
        ZND_TimeoutCancel(timer);
    *timer = ZND_Timeout{};
    timer->cb = handler;
    if (ZND_TimeoutSet(timer, ms) != 0)
        ZND_ERROR("set timer fail !!!");
    else
        ZND_DBG("set timer ok");
    return 0;
}

int ZND_SetAccTimer(ZND_TimeoutHandler handler, int ms)
{
    return ZND_SetTimer(&g_znd.accTimer, handler, ms);
}
