#include "discovery/router_addrs.h"

#include <arpa/inet.h>
#include <cstring>
#include "config/uci.h"
#include "tunnel/probe.h"

namespace {

// Netmask of the device that network.<section>.ifname names; empty when it has none.
void netmask_of(const char *section, char out[ZND_ADDR_TEXT_SIZE])
{
    char ifname[16] = {};
    out[0] = '\0';
    if (UCI_GetCfgInfo("network", section, "ifname", ifname, sizeof ifname) != 0 || !ifname[0])
        return;
    ZND_GetIfNetmask(ifname, out);
    if (strcmp(out, "0.0.0.0") == 0)
        out[0] = '\0';
}

} // namespace

void ZND_GetRouterAddrs(ZND_RouterAddrs *a)
{
    memset(a, 0, sizeof *a);
    UCI_GetCfgInfo("network", "lan", "ipaddr", a->lanIp, sizeof a->lanIp);
    UCI_GetCfgInfo("network", "lan", "netmask", a->lanMask, sizeof a->lanMask);
    ZND_GetWanAddrs(a->wanIp, a->wwanIp);
    netmask_of("wan", a->wanMask);
    netmask_of("wwan", a->wwanMask);
}

uint32_t ZND_NetworkOf(const char *ip, const char *mask)
{
    if (!ip[0] || !mask[0])
        return 0;
    return inet_addr(ip) & inet_addr(mask);
}
