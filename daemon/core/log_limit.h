// Error lines that others can cause at will, such as a LAN device sending datagrams: each such line
// is written at most ZND_LOG_LIMIT_BURST times a second, and the first one written after some were
// left out comes after a line that counts them.
#pragma once
#include <cstdint>
#include "core/log.h"

#define ZND_LOG_LIMIT_BURST 5
#define ZND_LOG_LIMIT_WINDOW_MS 1000

struct ZND_LogLimit {
    int64_t windowStartMs;
    uint32_t written;   // in the current window
    uint32_t leftOut;   // since the last line written
};

// Whether the line of lim may be written now; when it may, *leftOut is how many were left out
// before it.
bool ZND_LogLimitPass(ZND_LogLimit *lim, uint32_t *leftOut);

#define ZND_ERROR_LIMITED(lim, fmt, ...)                                    \
    do {                                                                    \
        uint32_t znd_left_out_;                                             \
        if (ZND_LogLimitPass(lim, &znd_left_out_)) {                        \
            if (znd_left_out_)                                              \
                ZND_ERROR("%u lines like the next left out", znd_left_out_); \
            ZND_ERROR(fmt, ##__VA_ARGS__);                                  \
        }                                                                   \
    } while (0)
