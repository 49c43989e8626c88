// Event loop: one-shot millisecond timeouts and file-descriptor watchers, with the semantics of
// the router's event loop library. The records ZND_Timeout and ZND_Fd, their handler types and
// the ZND_FD_* flags are libubox's own (platform/ubox/loop_types.h); the domain only sets their cb
// (and fd) members. The daemon links uloop (platform/ubox/loop.cpp); unit tests that step time
// link a fake loop over the same records instead.
#pragma once
#include <cstdint>
#include "loop_types.h"

int ZND_LoopInit();   // 0, or -1 when the loop cannot be created
void ZND_LoopRun();   // until ZND_LoopCancel, SIGINT or SIGTERM
void ZND_LoopCancel();
void ZND_LoopDone();
// Monotonic milliseconds, the clock of the timeouts.
int64_t ZND_LoopNow();

// Arms (or re-arms) the timeout to fire once after ms milliseconds. Returns 0. The loop keeps
// time in whole milliseconds: a timeout fires within the millisecond it is due, never earlier.
int ZND_TimeoutSet(ZND_Timeout *t, int ms);
// Returns 0, or -1 when the timeout was not pending.
int ZND_TimeoutCancel(ZND_Timeout *t);
bool ZND_TimeoutPending(const ZND_Timeout *t);
// Milliseconds until the timeout fires (0 when due), -1 when not pending.
int64_t ZND_TimeoutRemaining(const ZND_Timeout *t);

// Registers (or updates) a watcher; flags are ZND_FD_*. Returns 0 or -1.
int ZND_FdAdd(ZND_Fd *fd, unsigned int flags);
int ZND_FdDelete(ZND_Fd *fd);
