// Network probes: reachability through the ping command, the raw-socket echo engine that measures
// the nodes, and interface address look-ups.
#pragma once
#include <cstddef>
#include <cstdint>
#include "cloud/node.h"

struct timeval;

// 1 when one echo request to addr (dotted IPv4) is answered within a second, through ifname
// when given; 0 otherwise, also for an address or interface name that is refused.
int ZND_IsUrlActive(const char *addr, const char *ifname);
// 1 as soon as one of the public resolvers answers, else 0.
int ZND_IsWanActive();
// The same through the interface ifname.
int ZND_IsTunActive(const char *ifname);

// Pings every node of the table at once, passes times, keeping each node's best time in ping.
// 0, or 2 on a missing table or when the raw socket cannot be opened.
uint32_t Ping_SynPingIpv4(AccNodeServer *table, int passes);
// Internet checksum (RFC 1071) of len bytes.
uint16_t ZND_IcmpChecksum(const void *data, size_t len);
// a := a - b.
void ZND_TimevalSub(struct timeval *a, const struct timeval *b);

// Dotted IPv4 address / netmask of an interface; "0.0.0.0" when it has none or does not exist.
void ZND_GetIfAddr(const char *ifname, char out[16]);
void ZND_GetIfNetmask(const char *ifname, char out[16]);
// Addresses of the devices named by network.wan.ifname and network.wwan.ifname; empty for none.
void ZND_GetWanAddrs(char wan[16], char wwan[16]);
