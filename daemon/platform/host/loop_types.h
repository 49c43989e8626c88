// Records of the host event loop (epoll): a timeout and a descriptor watcher, laid out like the
// router's so that the domain fills them the same way on both; and the test seams of the loop.
#pragma once
#include <cstdint>

struct ZND_Timeout;
typedef void (*ZND_TimeoutHandler)(ZND_Timeout *t);

// A timeout record is owned by its user; the loop links it while it is pending.
struct ZND_Timeout {
    ZND_TimeoutHandler cb;
    bool pending;
    int64_t due_ms;   // monotonic milliseconds
    ZND_Timeout *next;
    ZND_Timeout *prev;
};

struct ZND_Fd;
typedef void (*ZND_FdHandler)(ZND_Fd *fd, unsigned int events);

enum {
    ZND_FD_READ = 1,
    ZND_FD_WRITE = 2,
    ZND_FD_EDGE_TRIGGER = 4,
    ZND_FD_BLOCKING = 8,
};

struct ZND_Fd {
    ZND_FdHandler cb;
    int fd;
    bool registered;
    unsigned int flags;
};

// Test seams: replace the monotonic clock and fire the timeouts that are due without waiting.
typedef int64_t (*ZND_ClockFn)();
void ZND_LoopSetClock(ZND_ClockFn fn);   // nullptr restores the real clock
int ZND_LoopRunDueTimeouts();            // returns the number of handlers called
// Due time of the first pending timeout, -1 when none is pending.
int64_t ZND_LoopNextDue();
