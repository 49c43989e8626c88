// Addresses of the WAN and WWAN devices named in the network configuration, for the discovery
// reply; an interface without an address counts as none.
#include <cstring>
#include "config/uci.h"
#include "tunnel/probe.h"

#define ZND_ADDR_TEXT_SIZE 16

namespace {

void wan_addr(const char *section, char out[ZND_ADDR_TEXT_SIZE])
{
    char ifname[ZND_ADDR_TEXT_SIZE] = "";
    UCI_GetCfgInfo("network", section, "ifname", ifname, sizeof ifname);
    ZND_GetIfAddr(ifname, out);
    if (strcmp(out, "0.0.0.0") == 0)
        out[0] = '\0';
}

} // namespace

void ZND_GetWanAddrs(char wan[ZND_ADDR_TEXT_SIZE], char wwan[ZND_ADDR_TEXT_SIZE])
{
    wan_addr("wan", wan);
    wan_addr("wwan", wwan);
}
