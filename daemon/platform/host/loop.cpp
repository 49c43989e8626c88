// Event loop of the host backend: epoll for descriptors, a sorted list of timeouts,
// and a self-pipe that turns SIGINT and SIGTERM into a cancellation of the loop.
#include "platform/loop.h"
#include "platform/clock.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

int g_epoll = -1;
int g_sigpipe[2] = {-1, -1};
volatile sig_atomic_t g_cancelled = 0;
ZND_Timeout g_head = {nullptr, false, 0, &g_head, &g_head};
ZND_ClockFn g_clock = nullptr;
struct sigaction g_old_int, g_old_term;

void on_signal(int)
{
    int saved = errno;
    g_cancelled = 1;
    if (g_sigpipe[1] >= 0) {
        char c = 0;
        ssize_t r = write(g_sigpipe[1], &c, 1);
        (void)r;
    }
    errno = saved;
}

void timeout_unlink(ZND_Timeout *t)
{
    t->prev->next = t->next;
    t->next->prev = t->prev;
    t->next = t->prev = nullptr;
    t->pending = false;
}

int next_wait_ms()
{
    if (g_head.next == &g_head)
        return -1;
    int64_t diff = g_head.next->due_ms - ZND_LoopNow();
    if (diff < 0)
        return 0;
    return diff > 1000000000 ? 1000000000 : (int)diff;
}

void dispatch_fds(int wait_ms)
{
    struct epoll_event events[16];
    int n = epoll_wait(g_epoll, events, 16, wait_ms);
    for (int i = 0; i < n && !g_cancelled; i++) {
        if (events[i].data.ptr == nullptr) {
            char buf[16];
            while (read(g_sigpipe[0], buf, sizeof buf) > 0) {
            }
            continue;
        }
        ZND_Fd *fd = static_cast<ZND_Fd *>(events[i].data.ptr);
        unsigned int ev = 0;
        if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
            ev |= ZND_FD_READ;
        if (events[i].events & EPOLLOUT)
            ev |= ZND_FD_WRITE;
        if (fd->registered && fd->cb)
            fd->cb(fd, ev);
    }
}

} // namespace

int64_t ZND_LoopNow()
{
    return g_clock ? g_clock() : ZND_MonotonicMs();
}

void ZND_LoopSetClock(ZND_ClockFn fn)
{
    g_clock = fn;
}

int ZND_LoopInit()
{
    if (g_epoll >= 0)
        return 0;
    g_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (g_epoll < 0)
        return -1;
    if (pipe2(g_sigpipe, O_CLOEXEC | O_NONBLOCK) < 0) {
        close(g_epoll);
        g_epoll = -1;
        return -1;
    }
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    epoll_ctl(g_epoll, EPOLL_CTL_ADD, g_sigpipe[0], &ev);

    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &g_old_int);
    sigaction(SIGTERM, &sa, &g_old_term);
    g_cancelled = 0;
    return 0;
}

void ZND_LoopCancel()
{
    g_cancelled = 1;
}

void ZND_LoopDone()
{
    if (g_epoll < 0)
        return;
    sigaction(SIGINT, &g_old_int, nullptr);
    sigaction(SIGTERM, &g_old_term, nullptr);
    close(g_sigpipe[0]);
    close(g_sigpipe[1]);
    g_sigpipe[0] = g_sigpipe[1] = -1;
    close(g_epoll);
    g_epoll = -1;
    while (g_head.next != &g_head)
        timeout_unlink(g_head.next);
}

int ZND_TimeoutSet(ZND_Timeout *t, int ms)
{
    if (t->pending)
        timeout_unlink(t);
    t->due_ms = ZND_LoopNow() + (ms < 0 ? 0 : ms);
    // Keep the list sorted by due time; equal times fire in the order they were set.
    ZND_Timeout *pos = g_head.prev;
    while (pos != &g_head && pos->due_ms > t->due_ms)
        pos = pos->prev;
    t->prev = pos;
    t->next = pos->next;
    pos->next->prev = t;
    pos->next = t;
    t->pending = true;
    return 0;
}

int ZND_TimeoutCancel(ZND_Timeout *t)
{
    if (!t->pending)
        return -1;
    timeout_unlink(t);
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
    int64_t diff = t->due_ms - ZND_LoopNow();
    return diff < 0 ? 0 : diff;
}

int ZND_LoopRunDueTimeouts()
{
    int fired = 0;
    int64_t now = ZND_LoopNow();
    while (g_head.next != &g_head && g_head.next->due_ms <= now && !g_cancelled) {
        ZND_Timeout *t = g_head.next;
        timeout_unlink(t);
        fired++;
        if (t->cb)
            t->cb(t);
    }
    return fired;
}

int ZND_FdAdd(ZND_Fd *fd, unsigned int flags)
{
    if (g_epoll < 0 || fd->fd < 0)
        return -1;
    if (!(flags & ZND_FD_BLOCKING)) {
        int fl = fcntl(fd->fd, F_GETFL);
        if (fl >= 0 && !(fl & O_NONBLOCK))
            fcntl(fd->fd, F_SETFL, fl | O_NONBLOCK);
    }
    struct epoll_event ev = {};
    if (flags & ZND_FD_READ)
        ev.events |= EPOLLIN | EPOLLRDHUP;
    if (flags & ZND_FD_WRITE)
        ev.events |= EPOLLOUT;
    if (flags & ZND_FD_EDGE_TRIGGER)
        ev.events |= EPOLLET;
    ev.data.ptr = fd;
    int op = fd->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ctl(g_epoll, op, fd->fd, &ev) < 0)
        return -1;
    fd->registered = true;
    fd->flags = flags;
    return 0;
}

int ZND_FdDelete(ZND_Fd *fd)
{
    if (!fd->registered)
        return 0;
    fd->registered = false;
    fd->flags = 0;
    if (g_epoll >= 0)
        epoll_ctl(g_epoll, EPOLL_CTL_DEL, fd->fd, nullptr);
    return 0;
}

void ZND_LoopRun()
{
    while (!g_cancelled) {
        ZND_LoopRunDueTimeouts();
        if (g_cancelled)
            break;
        dispatch_fds(next_wait_ms());
    }
    g_cancelled = 0;
}

int64_t ZND_LoopNextDue()
{
    return g_head.next == &g_head ? -1 : g_head.next->due_ms;
}
