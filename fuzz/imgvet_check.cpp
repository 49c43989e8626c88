// imgvet's image check on a file that holds the input. Its verdict must be what the image layout
// says, worked out here with zlib's CRC; imgvet's own CRC must agree with zlib's on every input. The first input byte may make the image consistent (size, header and data
// checksums), so that the whole check is reached, not only its first refusals.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>
#include "fuzz_env.h"
#include "image_header.h"
#include "imgvet.h"

namespace {

enum { FIX_SIZE = 1, FIX_HEADER_CRC = 2, FIX_DATA_CRC = 4 };

uint32_t be32(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

uint32_t reference_crc(const uint8_t *data, size_t size)
{
    return (uint32_t)crc32(0, data, (uInt)size);
}

uint32_t header_crc(const uint8_t *header)
{
    uint8_t copy[IMG_HEADER_SIZE];
    memcpy(copy, header, sizeof copy);
    memset(copy + IMG_OFF_HCRC, 0, 4);
    return reference_crc(copy, sizeof copy);
}

void make_consistent(std::vector<uint8_t> *img, unsigned fix)
{
    if (img->size() < IMG_HEADER_SIZE)
        return;
    uint8_t *h = img->data();
    put_be32(h + IMG_OFF_MAGIC, IMG_MAGIC);
    uint32_t avail = (uint32_t)(img->size() - IMG_HEADER_SIZE);
    if (fix & FIX_SIZE)
        put_be32(h + IMG_OFF_SIZE, avail);
    uint32_t size = be32(h + IMG_OFF_SIZE);
    if ((fix & FIX_DATA_CRC) && size <= avail)
        put_be32(h + IMG_OFF_DCRC, reference_crc(h + IMG_HEADER_SIZE, size));
    if (fix & FIX_HEADER_CRC)
        put_be32(h + IMG_OFF_HCRC, header_crc(h));
}

bool valid_image(const std::vector<uint8_t> &img)
{
    if (img.size() < IMG_HEADER_SIZE)
        return false;
    const uint8_t *h = img.data();
    uint32_t size = be32(h + IMG_OFF_SIZE);
    return be32(h + IMG_OFF_MAGIC) == IMG_MAGIC && header_crc(h) == be32(h + IMG_OFF_HCRC) &&
           size <= img.size() - IMG_HEADER_SIZE &&
           reference_crc(h + IMG_HEADER_SIZE, size) == be32(h + IMG_OFF_DCRC);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<uint8_t> img(data + 1, data + size);
    ZND_FUZZ_CHECK(tinf_crc32(img.data(), (unsigned)img.size()) == reference_crc(img.data(), img.size()),
                   "CRC of " + std::to_string(img.size()) + " bytes");
    if (data[0] & 0x80)
        make_consistent(&img, data[0]);
    const char *path = ZND_FuzzFile(img.data(), img.size());
    bool want = valid_image(img);
    ZND_FUZZ_CHECK((check_image(path) == 1) == want, want ? "valid image refused" : "invalid image accepted");
    return 0;
}
