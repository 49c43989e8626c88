/* mtdmac MAC: writes a MAC address into the first block of the factory partition. */
#include "flash_block.h"
#include "mac_arg.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#define FACTORY_DEVICE "/dev/mtd2"
/* The copy of the factory block while it is rewritten, beside the router's other run-time files;
   left behind only when the block is lost. */
#define SAVED_BLOCK "/var/run/mtdmac-mtd2-block"
#define MAC_OFFSET_FIRST 0x0000
#define MAC_OFFSET_SECOND 0x1002

enum {
    EXIT_WRITTEN = 0,
    EXIT_BAD_MAC = 1,
    EXIT_NO_DEVICE = 2,
    EXIT_READ = 3,
    EXIT_ERASE = 4,
    EXIT_WRITE = 5,
    EXIT_SAVE = 6,
};

/* saved: the block as read, kept to put back when the write fails (it holds the board's
   calibration data); block: the image written; it is also the scratch of the read-back. */
static unsigned char saved[FLASH_BLOCK_SIZE];
static unsigned char block[FLASH_BLOCK_SIZE];

static int close_with(int fd, int code)
{
    close(fd);
    return code;
}

/* Keeps the block in a file before the erase, so that it outlives a write and a restore that both
   fail. An existing file is the only copy of an earlier run's block: it is never overwritten. */
static int save_block(const unsigned char *data)
{
    int fd = open(SAVED_BLOCK, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    size_t done = 0;
    while (done < FLASH_BLOCK_SIZE) {
        ssize_t n = write(fd, data + done, FLASH_BLOCK_SIZE - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            break;
        }
        done += (size_t)n;
    }
    int err = done < FLASH_BLOCK_SIZE ? errno : 0;
    if (close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0)
        return 0;
    unlink(SAVED_BLOCK);
    errno = err;
    return -1;
}

int main(int argc, char **argv)
{
    unsigned char mac[MAC_BYTES];
    if (argc < 2 || !mac_parse(argv[1], mac)) {
        fputs("input effective MAC\n", stderr);
        return EXIT_BAD_MAC;
    }

    int fd = open(FACTORY_DEVICE, O_RDWR | O_SYNC);
    if (fd < 0) {
        fputs("failed to open mtd2\n", stderr);
        return EXIT_NO_DEVICE;
    }
    if (flash_read_block(fd, saved) != 0) {
        fprintf(stderr, "failed to read %d bytes from mtd2\n", FLASH_BLOCK_SIZE);
        return close_with(fd, EXIT_READ);
    }
    if (save_block(saved) != 0) {
        fprintf(stderr, "failed to save the factory block to %s: %s\n", SAVED_BLOCK, strerror(errno));
        return close_with(fd, EXIT_SAVE);
    }
    /* Nothing on the device has changed until the erase succeeds. */
    if (flash_erase_block(fd) != 0) {
        fputs("failed to erase mtd2\n", stderr);
        unlink(SAVED_BLOCK);
        return close_with(fd, EXIT_ERASE);
    }
    memcpy(block, saved, FLASH_BLOCK_SIZE);
    memcpy(block + MAC_OFFSET_FIRST, mac, MAC_BYTES);
    memcpy(block + MAC_OFFSET_SECOND, mac, MAC_BYTES);
    if (flash_write_block(fd, block) != 0) {
        fprintf(stderr, "failed to write mtd%d\n", 2);
        if (flash_restore_block(fd, saved, block) != 0) {
            fprintf(stderr, "the factory block could not be restored; it is saved in %s\n", SAVED_BLOCK);
            return close_with(fd, EXIT_WRITE);
        }
        fputs("the factory block was restored as it was\n", stderr);
        unlink(SAVED_BLOCK);
        return close_with(fd, EXIT_WRITE);
    }
    unlink(SAVED_BLOCK);
    return close_with(fd, EXIT_WRITTEN);
}
