// CRC-32 throughput on a 32 MiB buffer: the nibble reference, the shipped tinf_crc32 and
// zlib's crc32, best of several runs each, with ratios against zlib.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>
#include <zlib.h>

#include "crc32_nibble.h"
#include "imgvet.h"

namespace {

using CrcFn = uint32_t (*)(const unsigned char *, size_t);

uint32_t Nibble(const unsigned char *p, size_t n) { return imgvet_crc32_nibble(p, (unsigned)n); }
uint32_t Shipped(const unsigned char *p, size_t n) { return tinf_crc32(p, (unsigned)n); }
uint32_t Zlib(const unsigned char *p, size_t n) { return (uint32_t)crc32(0, p, (uInt)n); }

struct Result {
    double mb_per_s;
    uint32_t crc;
};

Result Measure(CrcFn fn, const std::vector<unsigned char> &buf, int runs)
{
    double best = 1e30;
    uint32_t crc = 0;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        crc = fn(buf.data(), buf.size());
        std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
        if (d.count() < best)
            best = d.count();
    }
    return {buf.size() / 1e6 / best, crc};
}

} // namespace

int main()
{
    std::vector<unsigned char> buf(32u << 20);
    std::mt19937 gen(1);
    for (auto &b : buf)
        b = (unsigned char)gen();

    Result zlib = Measure(Zlib, buf, 7);
    Result shipped = Measure(Shipped, buf, 7);
    Result nibble = Measure(Nibble, buf, 2);
    printf("CRC-32 over 32 MiB (best run)\n");
    printf("%-22s %10s %14s\n", "implementation", "MB/s", "vs zlib");
    printf("%-22s %10.0f %13.1f%%\n", "nibble reference", nibble.mb_per_s, 100 * nibble.mb_per_s / zlib.mb_per_s);
    printf("%-22s %10.0f %13.1f%%\n", "tinf_crc32 (shipped)", shipped.mb_per_s, 100 * shipped.mb_per_s / zlib.mb_per_s);
    printf("%-22s %10.0f %13.1f%%\n", "zlib crc32", zlib.mb_per_s, 100.0);
    if (shipped.crc != zlib.crc || nibble.crc != zlib.crc) {
        printf("MISMATCH: shipped %08x nibble %08x zlib %08x\n", shipped.crc, nibble.crc, zlib.crc);
        return 1;
    }
    return 0;
}
