// Reachability through the system's ping command. The address and the interface name end up in a
// shell command line, so both are checked first: a dotted IPv4 address and an interface name of
// [A-Za-z0-9._-] only; anything else is refused (not reachable) instead of being run.
#include "tunnel/probe.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include "core/context.h"
#include "core/log.h"
#include "core/shell_quote.h"

#define ZND_PING_CMD_SIZE 512

namespace {

int any_resolver_answers(const char *ifname)
{
    for (int i = 0; i < ZND_RESOLVER_COUNT && g_znd.publicResolvers[i]; i++)
        if (ZND_IsUrlActive(g_znd.publicResolvers[i], ifname))
            return 1;
    return 0;
}

} // namespace

int ZND_IsUrlActive(const char *addr, const char *ifname)
{
    if (!addr) {
        ZND_ERROR("url is NULL");
        return 0;
    }
    if (!ZND_IsDottedIpv4(addr)) {
        ZND_ERROR("refuse to ping %s: not an IPv4 address", addr);
        return 0;
    }
    char cmd[ZND_PING_CMD_SIZE];
    if (ifname) {
        if (!ZND_IsPlainIfName(ifname)) {
            ZND_ERROR("refuse to ping through interface %s: bad name", ifname);
            return 0;
        }
        snprintf(cmd, sizeof cmd, "ping -q -c 1 -W 1 %s -I %s > /dev/null 2>&1", addr, ifname);
    } else {
        snprintf(cmd, sizeof cmd, "ping -q -c 1 -W 1 %s > /dev/null 2>&1", addr);
    }
    return ZND_System(cmd) == 0 ? 1 : 0;
}

int ZND_IsWanActive()
{
    return any_resolver_answers(nullptr);
}

int ZND_IsTunActive(const char *ifname)
{
    return any_resolver_answers(ifname);
}
