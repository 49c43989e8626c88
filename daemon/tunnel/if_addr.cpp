// IPv4 address and netmask of an interface through the interface ioctls; any failure reads as
// the all-zero address.
#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include "tunnel/probe.h"

#define ZND_ADDR_TEXT_SIZE 16

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

} // namespace

void ZND_GetIfAddr(const char *ifname, char out[ZND_ADDR_TEXT_SIZE])
{
    if_ipv4(ifname, SIOCGIFADDR, out);
}

void ZND_GetIfNetmask(const char *ifname, char out[ZND_ADDR_TEXT_SIZE])
{
    if_ipv4(ifname, SIOCGIFNETMASK, out);
}
