// Builds legacy boot images the way the firmware build does: a 64-byte big-endian header
// (magic, header CRC, time, data size, load address, entry point, data CRC, OS, architecture,
// type, compression, 32-byte name) over the payload. Checksums come from zlib, independent of
// the module under test (on cross builds without zlib, from the four-bit reference).
#pragma once
#include <cstdint>
#include <string>

struct ImageFields {
    std::string payload;
    std::string name = "zunaro MIPS Linux-4.14";
    uint32_t time = 0x5F5E1000;
    uint32_t load = 0x80000000;
    uint32_t entry = 0x80000000;
    uint8_t os = 5;     // Linux
    uint8_t arch = 5;   // MIPS
    uint8_t type = 2;   // kernel
    uint8_t comp = 3;   // LZMA
};

std::string BuildImage(const ImageFields &f);
// Rewrites the header CRC after the test changed header bytes on purpose.
void ResealHeader(std::string *image);
uint32_t ZlibCrc(const std::string &bytes);
std::string RandomBytes(size_t n, uint32_t seed);
void PutBe32(std::string *bytes, size_t offset, uint32_t value);
uint32_t GetBe32(const std::string &bytes, size_t offset);
