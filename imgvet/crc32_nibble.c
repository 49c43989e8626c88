#include "crc32_nibble.h"

/* Entry i: the CRC register after feeding the four bits of i through the reflected polynomial. */
static const unsigned int nibble_table[16] = {
    0x00000000u, 0x1DB71064u, 0x3B6E20C8u, 0x26D930ACu, 0x76DC4190u, 0x6B6B51F4u, 0x4DB26158u, 0x5005713Cu,
    0xEDB88320u, 0xF00F9344u, 0xD6D6A3E8u, 0xCB61B38Cu, 0x9B64C2B0u, 0x86D3D2D4u, 0xA00AE278u, 0xBDBDF21Cu,
};

unsigned int imgvet_crc32_nibble(const void *data, unsigned int length)
{
    const unsigned char *p = (const unsigned char *)data;
    unsigned int reg = 0xFFFFFFFFu;

    if (length == 0)
        return 0;
    while (length--) {
        reg ^= *p++;
        reg = nibble_table[reg & 0x0F] ^ (reg >> 4);
        reg = nibble_table[reg & 0x0F] ^ (reg >> 4);
    }
    return ~reg;
}
