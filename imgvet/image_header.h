/* Layout of the legacy boot image header (all fields big-endian). */
#ifndef IMGVET_IMAGE_HEADER_H
#define IMGVET_IMAGE_HEADER_H

enum {
    IMG_HEADER_SIZE = 64,
    IMG_OFF_MAGIC = 0,
    IMG_OFF_HCRC = 4,
    IMG_OFF_SIZE = 12,
    IMG_OFF_DCRC = 24,
    IMG_OFF_NAME = 32,
    IMG_NAME_LEN = 32,
};

#define IMG_MAGIC 0x27051956u

#endif
