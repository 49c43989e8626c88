// The daemon's only access to UCI options.
#pragma once
#include <cstddef>
#include <cstdint>

// Copies the value of package.section.option into out (at most size - 1 characters, terminated).
uint32_t UCI_GetCfgInfo(const char *package, const char *section, const char *option, char *out, size_t size);
// The same for an option that holds a secret (a password): the debug line shows "***" as its value.
uint32_t UCI_GetSecretCfgInfo(const char *package, const char *section, const char *option, char *out,
                              size_t size);
// Sets package.section.option to value and commits the package.
uint32_t UCI_SetCfgInfo(const char *package, const char *section, const char *option, const char *value);
