/*
 * Firmware image check: a legacy boot image header (magic, header CRC) followed by at least
 * `data size` bytes whose CRC matches. The file is mapped read-only and never written, so a
 * reader running at the same time (or a crash during the check) never sees it altered.
 */
#define _GNU_SOURCE
#include "imgvet.h"
#include "image_header.h"

#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static uint32_t read_be32(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

/* The header CRC is computed on a copy with its own field zeroed. */
static int header_crc_matches(const unsigned char *header)
{
    unsigned char copy[IMG_HEADER_SIZE];
    memcpy(copy, header, sizeof copy);
    memset(copy + IMG_OFF_HCRC, 0, 4);
    return tinf_crc32(copy, sizeof copy) == read_be32(header + IMG_OFF_HCRC);
}

static int image_is_valid(const unsigned char *image, size_t size)
{
    if (size < IMG_HEADER_SIZE)
        return 0;
    if (read_be32(image + IMG_OFF_MAGIC) != IMG_MAGIC)
        return 0;
    if (!header_crc_matches(image))
        return 0;
    uint32_t data_size = read_be32(image + IMG_OFF_SIZE);
    if (data_size > size - IMG_HEADER_SIZE)
        return 0;
    return tinf_crc32(image + IMG_HEADER_SIZE, data_size) == read_be32(image + IMG_OFF_DCRC);
}

int check_image(const char *path)
{
    if (path == NULL || path[0] == '\0')
        return 0;
    /* Opened read-write because callers rely on an image they may not write being refused;
       nothing is ever written through this descriptor. */
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return 0;

    int ok = 0;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0 && (uintmax_t)st.st_size <= SIZE_MAX) {
        size_t size = (size_t)st.st_size;
        void *map = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            ok = image_is_valid((const unsigned char *)map, size);
            munmap(map, size);
        }
    }
    close(fd);
    return ok;
}
