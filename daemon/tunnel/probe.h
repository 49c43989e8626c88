// Reachability probes through the system's ping command: the public resolvers, directly or
// through one interface.
#pragma once

// 1 when one echo request to addr (dotted IPv4) is answered within a second, through ifname
// when given; 0 otherwise, also for an address or interface name that is refused.
int ZND_IsUrlActive(const char *addr, const char *ifname);
// 1 as soon as one of the public resolvers answers, else 0.
int ZND_IsWanActive();
// The same through the interface ifname.
int ZND_IsTunActive(const char *ifname);
