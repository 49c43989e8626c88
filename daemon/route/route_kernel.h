// Single routes in the kernel tables `login` (252, via the default gateway) and `traffic` (251,
// through the tunnel device), their policy rules, the default gateway and table-empty checks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "platform/rtnl.h"
#include "route/route_hash.h"

#define ZND_LOGIN_ROUTE_TABLE 252
#define ZND_TRAFFIC_ROUTE_TABLE 251
#define ZND_ROUTE_OP_ADD 1
#define ZND_ROUTE_OP_DEL 2

// Gateway text of the first default route of "ip route" into out (callers pass 16 bytes).
// 0, or 2 with out cleared when there is none or it does not fit.
uint32_t CFGI_GetGateway(char *out, size_t size);
// Leading one bits of a netmask given in network byte order (as inet_addr returns it).
int ZND_MaskToPrefixLen(uint32_t mask);
// What the kernel tells the routes of a table apart by: the destination cut to its prefix length,
// and the prefix length. Entries that only differ in writing ("255.0.255.0" and "255.0.0.0" are
// both prefix 8) have the same key.
uint64_t ZND_RouteKernelKey(const ZND_RouteEntry *e);

// Where the login routes go: via the default gateway or, when the default route names a device
// and no gateway (a point-to-point WAN such as PPPoE), through that device.
struct ZND_LoginNextHop {
    uint32_t gateway;   // network byte order; 0 for a device route
    int ifindex;        // the default route's device when it has no gateway, else 0
};
// The next hop of the first default route of "ip route": 0, or 2 when there is none.
uint32_t ZND_GetLoginNextHop(ZND_LoginNextHop *hop);

// A network attached to the router itself (its LAN, WAN, WWAN or tunnel), host byte order.
struct ZND_RouterNet {
    uint32_t net;
    int len;
};
// The device routes of "ip route" (a network and "dev", no "via"): the kernel's own view of the
// networks the router is on. Empty when the listing cannot be read.
void ZND_GetRouterNets(std::vector<ZND_RouterNet> *nets);
// The router network that e covers or lies in, or nullptr: such a route would take the router's
// own traffic to its hosts away from their link.
const ZND_RouterNet *ZND_RouteOverlapsRouterNet(const std::vector<ZND_RouterNet> &nets, const ZND_RouteEntry *e);

uint32_t ZND_OpenNlSocket(ZND_Rtnl *rth);
void ZND_CloseNlSocket(ZND_Rtnl *rth);

// Add the policy rule of the table unless "ip rule list" already holds exactly "99: from all lookup
// login" or "100: from all fwmark 0x1 lookup traffic".
void ZND_LoginRouteRuleInit();
void ZND_TrafficRouteRuleInit();

// op 1 adds, anything else deletes; 0 on success, 2 when the kernel refused or did not answer. A
// delete carries the destination only, whatever the next hop.
uint32_t ZND_LoginRouteCtrl(ZND_Rtnl *rth, const ZND_RouteEntry *e, const ZND_LoginNextHop *hop, int op);
uint32_t ZND_TrafficRouteCtrl(ZND_Rtnl *rth, int ifindex, const ZND_RouteEntry *e, int op);

// 1 when the table lists no route, else 0.
int ZND_LoginRouteTabIsEmpty();
int ZND_TrafficRouteTabIsEmpty();
