// Event loop: one-shot millisecond timeouts and file-descriptor watchers.
// Semantics follow the router's event loop library so that the openwrt backend is a thin mapping.
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

int ZND_LoopInit();   // 0, or -1 when the loop cannot be created
void ZND_LoopRun();   // until ZND_LoopCancel, SIGINT or SIGTERM
void ZND_LoopCancel();
void ZND_LoopDone();

// Arms (or re-arms) the timeout to fire once after ms milliseconds. Returns 0.
int ZND_TimeoutSet(ZND_Timeout *t, int ms);
// Returns 0, or -1 when the timeout was not pending.
int ZND_TimeoutCancel(ZND_Timeout *t);
bool ZND_TimeoutPending(const ZND_Timeout *t);
// Milliseconds until the timeout fires (0 when due), -1 when not pending.
int64_t ZND_TimeoutRemaining(const ZND_Timeout *t);

// Registers (or updates) a watcher; flags are ZND_FD_*. Returns 0 or -1.
int ZND_FdAdd(ZND_Fd *fd, unsigned int flags);
int ZND_FdDelete(ZND_Fd *fd);

// Test seams: replace the monotonic clock and fire the timeouts that are due without waiting.
typedef int64_t (*ZND_ClockFn)();
void ZND_LoopSetClock(ZND_ClockFn fn);   // nullptr restores the real clock
int64_t ZND_LoopNow();
int ZND_LoopRunDueTimeouts();            // returns the number of handlers called
// Due time of the first pending timeout, -1 when none is pending.
int64_t ZND_LoopNextDue();
