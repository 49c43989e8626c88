// Fixed-size text fields: filled from texts of any length, they keep what fits and stay terminated.
#pragma once
#include <cstddef>
#include <cstring>

// Copies at most max_chars characters of src into dst and terminates it (dst holds max_chars + 1).
inline void ZND_CopyCut(char *dst, const char *src, size_t max_chars)
{
    size_t n = strnlen(src, max_chars);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

// The same into a field array, cut to its capacity.
template <size_t N>
inline void ZND_CopyCut(char (&dst)[N], const char *src)
{
    ZND_CopyCut(dst, src, N - 1);
}
