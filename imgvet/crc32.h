/* The CRC-32 register, fed piece by piece: start with CRC32_INIT, complement the end result. */
#ifndef IMGVET_CRC32_H
#define IMGVET_CRC32_H

#include <stddef.h>
#include <stdint.h>

#define CRC32_INIT 0xFFFFFFFFu

uint32_t crc32_update(uint32_t reg, const void *data, size_t length);

#endif
