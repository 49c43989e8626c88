/*
 * CRC-32 (reflected polynomial 0xEDB88320) computed over several interleaved lanes of machine
 * words: each lane's table look-ups are independent of the others, so the CPU overlaps them.
 * The nibble-table version in crc32_nibble.c is the plain reference this must agree with.
 */
#include "crc32.h"
#include "imgvet.h"

#include <string.h>

#define CRC_POLY 0xEDB88320u
#define LANES 5

/* Lane words are as wide as the machine's registers (IMGVET_CRC_WORD32 forces 32-bit words
   on a 64-bit host, so that the 32-bit targets' path is tested too; IMGVET_CRC_PORTABLE leaves
   out the x86-64 path below, so that the tables are tested on such a host as well). */
#if UINTPTR_MAX > 0xFFFFFFFFu && !defined(IMGVET_CRC_WORD32)
#define CRC_WORD64 1
typedef uint64_t crc_word;
#else
typedef uint32_t crc_word;
#endif
#define WORD_BYTES ((unsigned)sizeof(crc_word))
#define BLOCK_BYTES (LANES * WORD_BYTES)

/* byte_table[b]: register after feeding byte b into a zero register. */
static uint32_t byte_table[256];
/* lane_table[k][b]: effect of byte b at offset k of a lane word, carried to the lane's next word. */
static uint32_t lane_table[sizeof(crc_word)][256];

static uint32_t feed_zero_bytes(uint32_t reg, unsigned count)
{
    while (count--)
        reg = (reg >> 8) ^ byte_table[reg & 0xFF];
    return reg;
}

__attribute__((constructor)) static void crc32_build_tables(void)
{
    for (unsigned b = 0; b < 256; b++) {
        uint32_t reg = b;
        for (int bit = 0; bit < 8; bit++)
            reg = (reg >> 1) ^ (CRC_POLY & (0u - (reg & 1u)));
        byte_table[b] = reg;
    }
    for (unsigned k = 0; k < WORD_BYTES; k++)
        for (unsigned b = 0; b < 256; b++)
            lane_table[k][b] = feed_zero_bytes(byte_table[b], BLOCK_BYTES - k - 1);
}

/* Little-endian word load from an aligned address: byte 0 of the data is the low byte. */
static inline crc_word load_word(const unsigned char *p)
{
    crc_word w;
    memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#ifdef CRC_WORD64
    w = __builtin_bswap64(w);
#else
    w = __builtin_bswap32(w);
#endif
#endif
    return w;
}

static inline uint32_t fold_lane(crc_word v)
{
    uint32_t r = lane_table[0][v & 0xFF] ^ lane_table[1][(v >> 8) & 0xFF] ^
                 lane_table[2][(v >> 16) & 0xFF] ^ lane_table[3][(v >> 24) & 0xFF];
#ifdef CRC_WORD64
    r ^= lane_table[4][(v >> 32) & 0xFF] ^ lane_table[5][(v >> 40) & 0xFF] ^
         lane_table[6][(v >> 48) & 0xFF] ^ lane_table[7][v >> 56];
#endif
    return r;
}

/* Feeds one word, already combined with the register, through the byte table. */
static inline uint32_t feed_word(crc_word w)
{
    for (unsigned k = 0; k < WORD_BYTES; k++)
        w = (w >> 8) ^ byte_table[w & 0xFF];
    return (uint32_t)w;
}

static inline uint32_t feed_bytes(uint32_t reg, const unsigned char *p, size_t n)
{
    while (n--)
        reg = (reg >> 8) ^ byte_table[(reg ^ *p++) & 0xFF];
    return reg;
}

static uint32_t lanes_update(uint32_t reg, const unsigned char *p, size_t n)
{
    size_t head = (WORD_BYTES - ((uintptr_t)p & (WORD_BYTES - 1))) & (WORD_BYTES - 1);
    if (head > n)
        head = n;
    reg = feed_bytes(reg, p, head);
    p += head;
    n -= head;

    size_t blocks = n / BLOCK_BYTES;
    if (blocks >= 2) {
        /* Lane j holds words j, j+LANES, ...; the running register starts in lane 0. */
        uint32_t l0 = reg, l1 = 0, l2 = 0, l3 = 0, l4 = 0;
        for (size_t b = 1; b < blocks; b++) {
            crc_word v0 = load_word(p) ^ l0;
            crc_word v1 = load_word(p + WORD_BYTES) ^ l1;
            crc_word v2 = load_word(p + 2 * WORD_BYTES) ^ l2;
            crc_word v3 = load_word(p + 3 * WORD_BYTES) ^ l3;
            crc_word v4 = load_word(p + 4 * WORD_BYTES) ^ l4;
            l0 = fold_lane(v0);
            l1 = fold_lane(v1);
            l2 = fold_lane(v2);
            l3 = fold_lane(v3);
            l4 = fold_lane(v4);
            p += BLOCK_BYTES;
        }
        /* The last block joins the lanes in order into one register. */
        reg = feed_word(load_word(p) ^ l0);
        reg = feed_word(load_word(p + WORD_BYTES) ^ l1 ^ reg);
        reg = feed_word(load_word(p + 2 * WORD_BYTES) ^ l2 ^ reg);
        reg = feed_word(load_word(p + 3 * WORD_BYTES) ^ l3 ^ reg);
        reg = feed_word(load_word(p + 4 * WORD_BYTES) ^ l4 ^ reg);
        p += BLOCK_BYTES;
        n -= blocks * BLOCK_BYTES;
    }
    return feed_bytes(reg, p, n);
}

#if defined(__x86_64__) && !defined(IMGVET_CRC_PORTABLE)
/*
 * Carry-less multiplication folds 64 bytes per step (four 128-bit lanes), then one lane, then
 * reduces to 32 bits with Barrett's method: several times the table speed on CPUs that have
 * PCLMULQDQ, which pays for reading the image through a buffer instead of a mapping. The
 * constants are powers of x modulo the bit-reflected polynomial, as in Intel's paper on CRC
 * computation with PCLMULQDQ.
 */
#include <immintrin.h>
#define CRC_CLMUL 1

#define CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

CLMUL_TARGET static inline __m128i clmul_fold16(__m128i x, __m128i k, __m128i next)
{
    __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

/* n is a multiple of 16 and at least 64; p is 16-byte aligned. */
CLMUL_TARGET static uint32_t clmul_update(uint32_t reg, const unsigned char *p, size_t n)
{
    const __m128i k64 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k16 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x1f7011641, 0x1db710641);
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    const __m128i *v = (const __m128i *)(const void *)p;

    __m128i x1 = _mm_xor_si128(_mm_load_si128(v), _mm_cvtsi32_si128((int)reg));
    __m128i x2 = _mm_load_si128(v + 1), x3 = _mm_load_si128(v + 2), x4 = _mm_load_si128(v + 3);
    for (v += 4, n -= 64; n >= 64; v += 4, n -= 64) {
        x1 = clmul_fold16(x1, k64, _mm_load_si128(v));
        x2 = clmul_fold16(x2, k64, _mm_load_si128(v + 1));
        x3 = clmul_fold16(x3, k64, _mm_load_si128(v + 2));
        x4 = clmul_fold16(x4, k64, _mm_load_si128(v + 3));
    }
    x1 = clmul_fold16(x1, k16, x2);
    x1 = clmul_fold16(x1, k16, x3);
    x1 = clmul_fold16(x1, k16, x4);
    for (; n >= 16; v++, n -= 16)
        x1 = clmul_fold16(x1, k16, _mm_load_si128(v));

    /* 128 bits to 64, then to 32, then the Barrett reduction to the register. */
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(k16, x1, 0x01));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
    __m128i t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10), low32);
    x1 = _mm_xor_si128(x1, _mm_clmulepi64_si128(t, barrett, 0x00));
    return (uint32_t)_mm_extract_epi32(x1, 1);
}

static int clmul_usable(void)
{
    static int usable = -1;
    if (usable < 0)
        usable = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return usable;
}
#endif

uint32_t crc32_update(uint32_t reg, const void *data, size_t length)
{
    /* An empty piece may come as a null pointer (as zlib's callers pass it): not even a zero
       offset may be added to that. */
    if (length == 0)
        return reg;
    const unsigned char *p = (const unsigned char *)data;
#ifdef CRC_CLMUL
    if (length >= 128 && clmul_usable()) {
        size_t head = (16 - ((uintptr_t)p & 15)) & 15;
        reg = feed_bytes(reg, p, head);
        p += head;
        length -= head;
        size_t bulk = length & ~(size_t)15;
        reg = clmul_update(reg, p, bulk);
        return feed_bytes(reg, p + bulk, length - bulk);
    }
#endif
    return lanes_update(reg, p, length);
}

unsigned int tinf_crc32(const void *data, unsigned int length)
{
    return ~crc32_update(CRC32_INIT, data, length);
}
