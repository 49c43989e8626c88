/* Exported interface of the firmware image check module. */
#ifndef IMGVET_IMGVET_H
#define IMGVET_IMGVET_H

#include <stddef.h>
#include <stdint.h>

#define IMGVET_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

struct lua_State;

/* CRC-32 of IEEE 802.3 / zlib; an empty buffer gives 0. */
IMGVET_EXPORT unsigned int tinf_crc32(const void *data, unsigned int length);

/* 1 when the file holds a legacy boot image whose header and data checksums are right, else 0. */
IMGVET_EXPORT int check_image(const char *path);

/* Lua "check" (path) -> boolean. */
IMGVET_EXPORT int imgvet(struct lua_State *L);

/* Entry point of require "imgvet": registers the global "check", returns the module name. */
IMGVET_EXPORT int luaopen_imgvet(struct lua_State *L);

#ifdef __cplusplus
}
#endif

#endif
