// Numbers written as decimal text in requests, configuration files and cloud replies.
#pragma once
#include <cstdint>

// The decimal number at the start of text, read as atoi reads it (blanks and a sign before the
// digits, anything after them ignored); fallback when the text starts with no number, outside when
// the number lies outside [min, max]. A number that does not fit its field is never wrapped into it:
// "4294967297" is not node 1 and "-1" is not port 4294967295.
int64_t ZND_DecimalBounded(const char *text, int64_t min, int64_t max, int64_t fallback, int64_t outside);

// As above, with one value for no number and for a number that does not fit.
inline int64_t ZND_DecimalInRange(const char *text, int64_t min, int64_t max, int64_t fallback = 0)
{
    return ZND_DecimalBounded(text, min, max, fallback, fallback);
}

// An unsigned 32-bit field whose "missing" value is 0.
inline uint32_t ZND_DecimalU32(const char *text)
{
    return (uint32_t)ZND_DecimalInRange(text, 0, UINT32_MAX);
}

// An unsigned 32-bit field where 0 is a choice (automatic mode, best node, reconnection off): a
// number that does not fit reads as outside instead, so that it cannot stand for that choice.
inline uint32_t ZND_DecimalU32Or(const char *text, uint32_t outside)
{
    return (uint32_t)ZND_DecimalBounded(text, 0, UINT32_MAX, 0, outside);
}
