// The router's addresses and netmasks on its LAN, WAN and WWAN networks.
#pragma once
#include <cstdint>

#define ZND_ADDR_TEXT_SIZE 16

struct ZND_RouterAddrs {
    char lanIp[ZND_ADDR_TEXT_SIZE];
    char lanMask[ZND_ADDR_TEXT_SIZE];
    char wanIp[ZND_ADDR_TEXT_SIZE];
    char wanMask[ZND_ADDR_TEXT_SIZE];
    char wwanIp[ZND_ADDR_TEXT_SIZE];
    char wwanMask[ZND_ADDR_TEXT_SIZE];
};

// Fills every field; a missing value is an empty text.
void ZND_GetRouterAddrs(ZND_RouterAddrs *addrs);
// Address AND netmask as a 32-bit value in network order; 0 when either text is empty.
uint32_t ZND_NetworkOf(const char *ip, const char *mask);

// Dotted IPv4 address / netmask of an interface; "0.0.0.0" when it has none or does not exist.
void ZND_GetIfAddr(const char *ifname, char out[ZND_ADDR_TEXT_SIZE]);
void ZND_GetIfNetmask(const char *ifname, char out[ZND_ADDR_TEXT_SIZE]);
// Addresses of the devices named by network.wan.ifname and network.wwan.ifname; empty for none.
void ZND_GetWanAddrs(char wan[ZND_ADDR_TEXT_SIZE], char wwan[ZND_ADDR_TEXT_SIZE]);
