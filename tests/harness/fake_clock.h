// A manual clock for the fake event loop (fake_loop.cpp, linked instead of uloop by the tests that
// step time): time only moves when a test advances it, and the timeouts that fall due on the way
// fire in order, each at its own due time.
#pragma once
#include <cstdint>

class FakeClock {
public:
    FakeClock() = default;
    FakeClock(const FakeClock &) = delete;
    FakeClock &operator=(const FakeClock &) = delete;

    static int64_t Now();
    // Fires every timeout due within ms (also those armed by handlers on the way).
    // Returns the number of handlers called.
    int Advance(int64_t ms);
    // Moves time to the next pending timeout and fires it; false when none is pending.
    bool FireNext();
    // Time spent by handlers themselves, e.g. a probe that takes one second.
    static void Spend(int64_t ms);
};
