#include "mac_arg.h"

#include <string.h>

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* Anything but hex digits is refused: writing zeros for a typo would brand a board with a
   wrong address in factory flash. */
int mac_parse(const char *text, unsigned char mac[MAC_BYTES])
{
    if (text == NULL || strlen(text) != 2 * MAC_BYTES)
        return 0;
    for (int i = 0; i < MAC_BYTES; i++) {
        int high = hex_value(text[2 * i]);
        int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return 0;
        mac[i] = (unsigned char)(high << 4 | low);
    }
    return 1;
}
