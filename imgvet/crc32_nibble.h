/* Reference CRC-32, four bits at a time: small and obviously right, kept for tests and benchmarks. */
#ifndef IMGVET_CRC32_NIBBLE_H
#define IMGVET_CRC32_NIBBLE_H

#ifdef __cplusplus
extern "C" {
#endif

unsigned int imgvet_crc32_nibble(const void *data, unsigned int length);

#ifdef __cplusplus
}
#endif

#endif
