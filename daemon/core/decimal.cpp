#include "core/decimal.h"

#include <cerrno>
#include <cstdlib>

int64_t ZND_DecimalBounded(const char *text, int64_t min, int64_t max, int64_t fallback, int64_t outside)
{
    if (!text)
        return fallback;
    int saved = errno;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text, &end, 10);
    bool range = errno == ERANGE;
    errno = saved;
    if (end == text)
        return fallback;
    return !range && v >= min && v <= max ? (int64_t)v : outside;
}
