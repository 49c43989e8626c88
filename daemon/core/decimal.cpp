#include "core/decimal.h"

#include <cerrno>
#include <cstdlib>

int64_t ZND_DecimalInRange(const char *text, int64_t min, int64_t max, int64_t fallback)
{
    if (!text)
        return fallback;
    int saved = errno;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text, &end, 10);
    bool fits = end != text && errno != ERANGE && v >= min && v <= max;
    errno = saved;
    return fits ? (int64_t)v : fallback;
}
