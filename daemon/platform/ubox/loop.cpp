// The event loop on the router: libubox's uloop, which also ends the loop on SIGINT and SIGTERM.
#include "platform/loop.h"

#include "platform/clock.h"

int ZND_LoopInit()
{
    // The shell runner waits for its own children; the loop must not reap them behind its back.
    uloop_handle_sigchld = false;
    return uloop_init();
}

void ZND_LoopRun()
{
    uloop_run();
}

void ZND_LoopCancel()
{
    uloop_end();
}

void ZND_LoopDone()
{
    uloop_done();
}

int64_t ZND_LoopNow()
{
    return ZND_MonotonicMs();   // uloop's own clock
}

int ZND_TimeoutSet(ZND_Timeout *t, int ms)
{
    return uloop_timeout_set(t, ms);
}

int ZND_TimeoutCancel(ZND_Timeout *t)
{
    return uloop_timeout_cancel(t);
}

bool ZND_TimeoutPending(const ZND_Timeout *t)
{
    return t->pending;
}

int64_t ZND_TimeoutRemaining(const ZND_Timeout *t)
{
    if (!t->pending)
        return -1;
    int64_t left = uloop_timeout_remaining64(const_cast<ZND_Timeout *>(t));
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
