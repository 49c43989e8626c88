/*
 * Firmware image check: a legacy boot image header (magic, header CRC) followed by at least
 * `data size` bytes whose CRC matches. The file is read with pread in blocks, never mapped: a
 * file that shrinks during the check then gives a short read (a plain "no") instead of a SIGBUS
 * that would kill the web server the module runs in. Nothing is ever written to the file.
 */
#define _GNU_SOURCE
#include "crc32.h"
#include "image_header.h"
#include "imgvet.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define READ_BLOCK (256u * 1024u)

static uint32_t read_be32(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

/* Reads exactly n bytes at off; 0 when the file ends first or a read fails. */
static int read_exact(int fd, unsigned char *buf, size_t n, off_t off)
{
    while (n > 0) {
        ssize_t got = pread(fd, buf, n, off);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 0;
        buf += got;
        n -= (size_t)got;
        off += got;
    }
    return 1;
}

/* The header CRC is computed on a copy with its own field zeroed. */
static int header_crc_matches(const unsigned char *header)
{
    unsigned char copy[IMG_HEADER_SIZE];
    memcpy(copy, header, sizeof copy);
    memset(copy + IMG_OFF_HCRC, 0, 4);
    return tinf_crc32(copy, sizeof copy) == read_be32(header + IMG_OFF_HCRC);
}

static int data_crc_matches(int fd, uint32_t size, uint32_t want)
{
    /* A small image needs no buffer of a whole block. */
    size_t block = size < READ_BLOCK ? (size ? size : 1) : READ_BLOCK;
    unsigned char *buf = malloc(block);
    if (buf == NULL)
        return 0;
    uint32_t reg = CRC32_INIT;
    off_t off = IMG_HEADER_SIZE;
    int ok = 1;
    while (size > 0) {
        size_t n = size < block ? size : block;
        if (!read_exact(fd, buf, n, off)) {
            ok = 0;
            break;
        }
        reg = crc32_update(reg, buf, n);
        off += (off_t)n;
        size -= (uint32_t)n;
    }
    free(buf);
    return ok && ~reg == want;
}

static int image_is_valid(int fd, off_t file_size)
{
    unsigned char header[IMG_HEADER_SIZE];
    if (file_size < IMG_HEADER_SIZE || !read_exact(fd, header, sizeof header, 0))
        return 0;
    if (read_be32(header + IMG_OFF_MAGIC) != IMG_MAGIC)
        return 0;
    if (!header_crc_matches(header))
        return 0;
    uint32_t data_size = read_be32(header + IMG_OFF_SIZE);
    if ((off_t)data_size > file_size - IMG_HEADER_SIZE)
        return 0;
    return data_crc_matches(fd, data_size, read_be32(header + IMG_OFF_DCRC));
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
    struct stat st;
    int ok = fstat(fd, &st) == 0 && image_is_valid(fd, st.st_size);
    close(fd);
    return ok;
}
