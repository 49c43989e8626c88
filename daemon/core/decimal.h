// Numbers written as decimal text in requests, configuration files and cloud replies.
#pragma once
#include <cstdint>

// The decimal number at the start of text, read as atoi reads it (blanks and a sign before the
// digits, anything after them ignored); fallback when the text starts with no number or when the
// number lies outside [min, max]. A number that does not fit its field is never wrapped into it:
// "4294967297" is not node 1 and "-1" is not port 4294967295.
int64_t ZND_DecimalInRange(const char *text, int64_t min, int64_t max, int64_t fallback = 0);

// An unsigned 32-bit field whose "missing" value is 0.
inline uint32_t ZND_DecimalU32(const char *text)
{
    return (uint32_t)ZND_DecimalInRange(text, 0, UINT32_MAX);
}
