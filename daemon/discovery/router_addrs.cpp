// Interface addresses through the interface ioctls, where any failure reads as the all-zero
// address, and the router's addresses named by the network configuration, where an interface
// without an address counts as none.
#include "discovery/router_addrs.h"

#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include "config/uci.h"

namespace {

void if_ipv4(const char *ifname, unsigned long request, char out[ZND_ADDR_TEXT_SIZE])
{
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    if (ifname)
        strncpy(ifr.ifr_name, ifname, IFNAMSIZ - 1);
    ifr.ifr_addr.sa_family = AF_INET;
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock >= 0) {
        if (ioctl(sock, request, &ifr) != 0)
            memset(&ifr.ifr_addr, 0, sizeof ifr.ifr_addr);
        close(sock);
    } else {
        memset(&ifr.ifr_addr, 0, sizeof ifr.ifr_addr);
    }
    struct sockaddr_in sin;
    memcpy(&sin, &ifr.ifr_addr, sizeof sin);
    if (!inet_ntop(AF_INET, &sin.sin_addr, out, ZND_ADDR_TEXT_SIZE))
        strcpy(out, "0.0.0.0");
}

void wan_addr(const char *section, char out[ZND_ADDR_TEXT_SIZE])
{
    char ifname[ZND_ADDR_TEXT_SIZE] = "";
    UCI_GetCfgInfo("network", section, "ifname", ifname, sizeof ifname);
    ZND_GetIfAddr(ifname, out);
    if (strcmp(out, "0.0.0.0") == 0)
        out[0] = '\0';
}

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

void ZND_GetIfAddr(const char *ifname, char out[ZND_ADDR_TEXT_SIZE])
{
    if_ipv4(ifname, SIOCGIFADDR, out);
}

void ZND_GetIfNetmask(const char *ifname, char out[ZND_ADDR_TEXT_SIZE])
{
    if_ipv4(ifname, SIOCGIFNETMASK, out);
}

void ZND_GetWanAddrs(char wan[ZND_ADDR_TEXT_SIZE], char wwan[ZND_ADDR_TEXT_SIZE])
{
    wan_addr("wan", wan);
    wan_addr("wwan", wwan);
}

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
