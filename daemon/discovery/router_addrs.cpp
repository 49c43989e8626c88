// Interface addresses through the interface ioctls, where any failure reads as the all-zero
// address, and the router's addresses named by the network configuration: the LAN's as UCI holds
// them, the WAN's and WWAN's every address of their device (getifaddrs), where an interface
// without an address counts as none.
#include "discovery/router_addrs.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include "config/uci.h"
#include "core/context.h"
#include "core/log.h"

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

void add_addr(ZND_RouterIface *iface, uint32_t addr, uint32_t mask)
{
    if (iface->count == ZND_IFACE_ADDR_MAX || addr == 0 || (addr & mask) == 0)
        return;
    ZND_RouterAddr *a = &iface->addrs[iface->count];
    struct in_addr in = {addr};
    if (!inet_ntop(AF_INET, &in, a->ip, sizeof a->ip))
        return;
    a->addr = addr;
    a->mask = mask;
    iface->count++;
}

// "ADDRESS", "ADDRESS/PREFIX" or "ADDRESS/NETMASK"; a bare address takes the netmask option.
void lan_value(const char *text, ZND_RouterIface *lan)
{
    char ip[ZND_ADDR_TEXT_SIZE] = {};
    const char *slash = strchr(text, '/');
    size_t ip_len = slash ? (size_t)(slash - text) : strlen(text);
    if (ip_len >= sizeof ip)
        return;
    memcpy(ip, text, ip_len);
    struct in_addr addr, mask;
    if (inet_pton(AF_INET, ip, &addr) != 1)
        return;
    char netmask[ZND_ADDR_TEXT_SIZE] = {};
    if (!slash) {
        if (UCI_GetOptionalCfgInfo("network", "lan", "netmask", netmask, sizeof netmask) != 0 ||
            inet_pton(AF_INET, netmask, &mask) != 1)
            return;
    } else if (inet_pton(AF_INET, slash + 1, &mask) != 1) {
        char *end = nullptr;
        long len = strtol(slash + 1, &end, 10);
        if (end == slash + 1 || *end || len < 0 || len > 32)
            return;
        mask.s_addr = htonl(len == 0 ? 0 : 0xFFFFFFFFu << (32 - len));
    }
    add_addr(lan, addr.s_addr, mask.s_addr);
}

// Every IPv4 address of the device, labelled secondary addresses ("eth1:1") included.
void device_addrs(const char *ifname, ZND_RouterIface *iface)
{
    struct ifaddrs *list;
    if (!ifname[0] || getifaddrs(&list) != 0)
        return;
    size_t n = strlen(ifname);
    for (struct ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask)
            continue;
        if (strncmp(i->ifa_name, ifname, n) != 0 || (i->ifa_name[n] && i->ifa_name[n] != ':'))
            continue;
        struct sockaddr_in addr, mask;
        memcpy(&addr, i->ifa_addr, sizeof addr);
        memcpy(&mask, i->ifa_netmask, sizeof mask);
        add_addr(iface, addr.sin_addr.s_addr, mask.sin_addr.s_addr);
    }
    freeifaddrs(list);
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

void ZND_GetLanAddrs(ZND_RouterIface *lan)
{
    lan->count = 0;
    UCI_Values values;
    if (UCI_GetCfgValues("network", "lan", "ipaddr", &values) != 0)
        return;
    for (int i = 0; i < values.count; i++)
        lan_value(values.text[i], lan);
}

void ZND_GetWanAddrs(ZND_RouterIface *wan, ZND_RouterIface *wwan)
{
    char ifname[ZND_ADDR_TEXT_SIZE] = "";
    wan->count = wwan->count = 0;
    if (UCI_GetCfgInfo("network", "wan", "ifname", ifname, sizeof ifname) == 0)
        device_addrs(ifname, wan);
    ifname[0] = '\0';
    if (UCI_GetOptionalCfgInfo("network", "wwan", "ifname", ifname, sizeof ifname) != 0) {
        if (!g_znd.wwanMissingTold)
            ZND_ERROR("This [%s] does not exist!!", "network.wwan.ifname");
        g_znd.wwanMissingTold = 1;
        return;
    }
    g_znd.wwanMissingTold = 0;
    device_addrs(ifname, wwan);
}

void ZND_GetRouterAddrs(ZND_RouterAddrs *a)
{
    memset(a, 0, sizeof *a);
    ZND_GetLanAddrs(&a->lan);
    ZND_GetWanAddrs(&a->wan, &a->wwan);
}

const ZND_RouterAddr *ZND_RouterAddrFor(const ZND_RouterIface *iface, uint32_t host)
{
    for (int i = 0; i < iface->count; i++) {
        const ZND_RouterAddr *a = &iface->addrs[i];
        if ((host & a->mask) == (a->addr & a->mask))
            return a;
    }
    return nullptr;
}

uint32_t ZND_NetworkOf(const char *ip, const char *mask)
{
    if (!ip[0] || !mask[0])
        return 0;
    return inet_addr(ip) & inet_addr(mask);
}
