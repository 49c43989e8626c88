// The router's addresses and netmasks on its LAN, WAN and WWAN networks.
#pragma once
#include <cstdint>

#define ZND_ADDR_TEXT_SIZE 16
#define ZND_IFACE_ADDR_MAX 8

// One IPv4 address of the router and its netmask, both in network byte order.
struct ZND_RouterAddr {
    char ip[ZND_ADDR_TEXT_SIZE];
    uint32_t addr;
    uint32_t mask;
};

// The addresses of one of the router's networks; count 0 when it has none.
struct ZND_RouterIface {
    int count;
    ZND_RouterAddr addrs[ZND_IFACE_ADDR_MAX];
};

struct ZND_RouterAddrs {
    ZND_RouterIface lan;
    ZND_RouterIface wan;
    ZND_RouterIface wwan;
};

void ZND_GetRouterAddrs(ZND_RouterAddrs *addrs);
// network.lan.ipaddr as OpenWrt writes it: an address with network.lan.netmask, an address with its
// prefix length ("192.168.1.1/24") or netmask after a "/", or a list of those. Values that are none
// of these, and addresses whose network is 0, are left out.
void ZND_GetLanAddrs(ZND_RouterIface *lan);
// Every IPv4 address of the devices named by network.wan.ifname and network.wwan.ifname. The WWAN
// interface is optional: its absence is logged once, and again only after it was there.
void ZND_GetWanAddrs(ZND_RouterIface *wan, ZND_RouterIface *wwan);
// The address of iface whose network holds host (network byte order), or nullptr.
const ZND_RouterAddr *ZND_RouterAddrFor(const ZND_RouterIface *iface, uint32_t host);
// Address AND netmask as a 32-bit value in network order; 0 when either text is empty.
uint32_t ZND_NetworkOf(const char *ip, const char *mask);

// Dotted IPv4 address / netmask of an interface; "0.0.0.0" when it has none or does not exist.
void ZND_GetIfAddr(const char *ifname, char out[ZND_ADDR_TEXT_SIZE]);
void ZND_GetIfNetmask(const char *ifname, char out[ZND_ADDR_TEXT_SIZE]);
