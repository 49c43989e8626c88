// The shipped CRC and the nibble reference must both equal zlib's CRC-32 for every length and
// alignment, including the lane-interleaved path and its joins at block boundaries.
#include <gtest/gtest.h>

#include "crc32_nibble.h"
#include "image_builder.h"
#include "imgvet.h"

extern "C" unsigned int imgvet_crc32_word32(const void *data, unsigned int length);
extern "C" unsigned int imgvet_crc32_portable(const void *data, unsigned int length);

namespace {

TEST(ImgvetCrc32, KnownVectorsAndEmptyInput)
{
    const char *check = "123456789";
    EXPECT_EQ(0xCBF43926u, tinf_crc32(check, 9));
    EXPECT_EQ(0xCBF43926u, imgvet_crc32_nibble(check, 9));
    EXPECT_EQ(0u, tinf_crc32("", 0));
    EXPECT_EQ(0u, tinf_crc32(nullptr, 0));
    EXPECT_EQ(0u, imgvet_crc32_nibble(nullptr, 0));
    std::string zeros(4096, '\0');
    EXPECT_EQ(ZlibCrc(zeros), tinf_crc32(zeros.data(), 4096));
    std::string ones(4096, '\xFF');
    EXPECT_EQ(ZlibCrc(ones), tinf_crc32(ones.data(), 4096));
}

TEST(ImgvetCrc32, EqualsZlibForEveryLengthAndAlignment)
{
    const std::string data = RandomBytes(1200 + 16, 7);
    for (size_t align = 0; align < 16; align++) {
        for (size_t len = 0; len <= 1200; len++) {
            std::string slice = data.substr(align, len);
            uint32_t want = ZlibCrc(slice);
            ASSERT_EQ(want, tinf_crc32(data.data() + align, (unsigned)len)) << "align " << align << " len " << len;
            ASSERT_EQ(want, imgvet_crc32_word32(data.data() + align, (unsigned)len)) << "32-bit words, align " << align << " len " << len;
            ASSERT_EQ(want, imgvet_crc32_portable(data.data() + align, (unsigned)len)) << "tables, align " << align << " len " << len;
            if (len % 61 == 0) {
                ASSERT_EQ(want, imgvet_crc32_nibble(data.data() + align, (unsigned)len));
            }
        }
    }
}

TEST(ImgvetCrc32, EqualsZlibOnLargeBuffers)
{
    const std::string data = RandomBytes((4u << 20) + 123, 11);
    for (size_t len : {size_t(65536), size_t(1u << 20) + 7, data.size() - 3, data.size()}) {
        EXPECT_EQ(ZlibCrc(data.substr(0, len)), tinf_crc32(data.data(), (unsigned)len)) << len;
        EXPECT_EQ(ZlibCrc(data.substr(3, len - 3)), tinf_crc32(data.data() + 3, (unsigned)len - 3)) << len;
        EXPECT_EQ(ZlibCrc(data.substr(3, len - 3)), imgvet_crc32_word32(data.data() + 3, (unsigned)len - 3)) << len;
        EXPECT_EQ(ZlibCrc(data.substr(3, len - 3)), imgvet_crc32_portable(data.data() + 3, (unsigned)len - 3)) << len;
    }
    EXPECT_EQ(ZlibCrc(data), imgvet_crc32_nibble(data.data(), (unsigned)data.size()));
}

} // namespace
