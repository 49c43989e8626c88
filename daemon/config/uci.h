// The daemon's only access to UCI options.
#pragma once
#include <cstddef>
#include <cstdint>

// Copies the value of package.section.option into out (at most size - 1 characters, terminated).
uint32_t UCI_GetCfgInfo(const char *package, const char *section, const char *option, char *out, size_t size);
// The same for an option that holds a secret (a password): the debug line shows "***" as its value.
uint32_t UCI_GetSecretCfgInfo(const char *package, const char *section, const char *option, char *out,
                              size_t size);
// The same for an option that may be missing: then 2 comes back and nothing is logged, the
// caller knows how often to tell.
uint32_t UCI_GetOptionalCfgInfo(const char *package, const char *section, const char *option, char *out,
                                size_t size);

#define UCI_VALUES_MAX 8
#define UCI_VALUE_SIZE 64
// The values of an option, or of a list (OpenWrt writes several addresses as one), each cut to 63
// characters; items after the eighth are left out.
struct UCI_Values {
    int count;
    char text[UCI_VALUES_MAX][UCI_VALUE_SIZE];
};
// 0, or 2 (logged as for UCI_GetCfgInfo) when it does not exist.
uint32_t UCI_GetCfgValues(const char *package, const char *section, const char *option, UCI_Values *out);

// Sets package.section.option to value and commits the package.
uint32_t UCI_SetCfgInfo(const char *package, const char *section, const char *option, const char *value);
