// A fixed window per line: it starts with the first line written after the last one ended.
#include "core/log_limit.h"

#include "platform/clock.h"

bool ZND_LogLimitPass(ZND_LogLimit *lim, uint32_t *leftOut)
{
    int64_t now = ZND_MonotonicMs();
    if (lim->written == 0 || now - lim->windowStartMs >= ZND_LOG_LIMIT_WINDOW_MS) {
        lim->windowStartMs = now;
        lim->written = 0;
    }
    if (lim->written >= ZND_LOG_LIMIT_BURST) {
        lim->leftOut++;
        return false;
    }
    lim->written++;
    *leftOut = lim->leftOut;
    lim->leftOut = 0;
    return true;
}
