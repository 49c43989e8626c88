#include "image_builder.h"

#include <random>
#ifdef IMGVET_TEST_ZLIB
#include <zlib.h>
#else
#include "crc32_nibble.h"
#endif

uint32_t ZlibCrc(const std::string &bytes)
{
#ifdef IMGVET_TEST_ZLIB
    return (uint32_t)crc32(0, reinterpret_cast<const Bytef *>(bytes.data()), (uInt)bytes.size());
#else
    return imgvet_crc32_nibble(bytes.data(), (unsigned)bytes.size());
#endif
}

void PutBe32(std::string *bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        (*bytes)[offset + i] = (char)(value >> (24 - 8 * i));
}

uint32_t GetBe32(const std::string &bytes, size_t offset)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++)
        v = v << 8 | (uint8_t)bytes[offset + i];
    return v;
}

void ResealHeader(std::string *image)
{
    PutBe32(image, 4, 0);
    PutBe32(image, 4, ZlibCrc(image->substr(0, 64)));
}

std::string BuildImage(const ImageFields &f)
{
    std::string header(64, '\0');
    PutBe32(&header, 0, 0x27051956);
    PutBe32(&header, 8, f.time);
    PutBe32(&header, 12, (uint32_t)f.payload.size());
    PutBe32(&header, 16, f.load);
    PutBe32(&header, 20, f.entry);
    PutBe32(&header, 24, ZlibCrc(f.payload));
    header[28] = (char)f.os;
    header[29] = (char)f.arch;
    header[30] = (char)f.type;
    header[31] = (char)f.comp;
    header.replace(32, f.name.size() < 32 ? f.name.size() : 32, f.name.substr(0, 32));
    std::string image = header + f.payload;
    ResealHeader(&image);
    return image;
}

std::string RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (auto &c : out)
        c = (char)(gen() & 0xFF);
    return out;
}
