#include "flash_block.h"

#include <errno.h>
#include <string.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

_Static_assert(sizeof(struct erase_info_user) == 8, "erase request is two 32-bit fields");

int flash_read_block(int fd, unsigned char *block)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    return read(fd, block, FLASH_BLOCK_SIZE) == FLASH_BLOCK_SIZE ? 0 : -1;
}

int flash_erase_block(int fd)
{
    struct erase_info_user erase = {.start = 0, .length = FLASH_BLOCK_SIZE};
    if (lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    return ioctl(fd, MEMERASE, &erase) == 0 ? 0 : -1;
}

/* A short write would leave the block's tail (calibration data) erased, so keep writing
   until every byte is on the device. */
int flash_write_block(int fd, const unsigned char *block)
{
    size_t done = 0;
    if (lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    while (done < FLASH_BLOCK_SIZE) {
        ssize_t n = write(fd, block + done, FLASH_BLOCK_SIZE - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += (size_t)n;
    }
    return 0;
}

int flash_restore_block(int fd, const unsigned char *saved, unsigned char *scratch)
{
    if (flash_erase_block(fd) != 0 || flash_write_block(fd, saved) != 0 || flash_read_block(fd, scratch) != 0)
        return -1;
    return memcmp(saved, scratch, FLASH_BLOCK_SIZE) == 0 ? 0 : -1;
}
