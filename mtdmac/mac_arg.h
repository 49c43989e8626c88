/* The MAC argument of mtdmac: exactly twelve hexadecimal digits, no separators. */
#ifndef MTDMAC_MAC_ARG_H
#define MTDMAC_MAC_ARG_H

#define MAC_BYTES 6

/* 1 and the six bytes (first pair first) when text is a valid MAC, else 0. */
int mac_parse(const char *text, unsigned char mac[MAC_BYTES]);

#endif
