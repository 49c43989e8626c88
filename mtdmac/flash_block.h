/* The first erase block of an MTD character device. */
#ifndef MTDMAC_FLASH_BLOCK_H
#define MTDMAC_FLASH_BLOCK_H

#include <stddef.h>

#define FLASH_BLOCK_SIZE 0x10000

/* Reads the whole block in one read call; 0 on success. */
int flash_read_block(int fd, unsigned char *block);
/* Erases the block (start 0, length FLASH_BLOCK_SIZE); 0 on success. */
int flash_erase_block(int fd);
/* Writes the whole block from offset 0, continuing short writes; 0 on success. */
int flash_write_block(int fd, const unsigned char *block);
/* Puts a saved copy of the block back after a failed write: erase, write, then read back and
   compare (scratch holds the read-back); 0 when the device holds the saved copy again. */
int flash_restore_block(int fd, const unsigned char *saved, unsigned char *scratch);

#endif
