// The machine's monotonic clock, real time whatever the loop's clock is (tests may give the loop
// a fake one; a probe pass or a client's deadline still waits in real time).
#pragma once
#include <cstdint>

// Milliseconds of CLOCK_MONOTONIC.
int64_t ZND_MonotonicMs();
