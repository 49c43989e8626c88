// Runs the event loop of a test until something has happened.
#pragma once
#include <functional>

// Serves the loop (already initialised) until done() holds, checked every 2 ms, or timeout_ms
// passed. True when done() held.
bool ZND_TestServeUntil(std::function<bool()> done, int timeout_ms);
