// Event notifications go to the /24 broadcast address of each of the router's addresses: WAN,
// WWAN, then LAN.
#include "discovery/broadcast.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <json-c/json.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "config/uci.h"
#include "core/log.h"
#include "core/result.h"
#include "discovery/router_addrs.h"

#define ZND_NOTIFY_PORT 7168

namespace {

#define ZND_NOTIFY_TARGET_MAX (3 * ZND_IFACE_ADDR_MAX)

struct ZND_NotifyTargets {
    int count;
    char addr[ZND_NOTIFY_TARGET_MAX][ZND_ADDR_TEXT_SIZE];
};

// "a.b.c.255" of each address "a.b.c.d" of iface, once each.
void add_targets(const ZND_RouterIface *iface, ZND_NotifyTargets *t)
{
    for (int i = 0; i < iface->count && t->count < ZND_NOTIFY_TARGET_MAX; i++) {
        struct in_addr b = {htonl((ntohl(iface->addrs[i].addr) & 0xFFFFFF00u) | 0xFFu)};
        char text[ZND_ADDR_TEXT_SIZE];
        inet_ntop(AF_INET, &b, text, sizeof text);
        bool known = false;
        for (int k = 0; k < t->count && !known; k++)
            known = strcmp(t->addr[k], text) == 0;
        if (!known)
            snprintf(t->addr[t->count++], ZND_ADDR_TEXT_SIZE, "%s", text);
    }
}

} // namespace

uint32_t SendBroadcast(const char *addr, const char *data, size_t len)
{
    ZND_DBG("SendBroadcast: %s\n%s\n", addr, data);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ZND_ERROR("broadcast sock err: %s", strerror(errno));
        return ZND_ERR_COMMON;
    }
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) < 0) {
        ZND_ERROR("setsockopt err: %s", strerror(errno));
        close(fd);
        return ZND_ERR_COMMON;
    }
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(ZND_NOTIFY_PORT);
    to.sin_addr.s_addr = inet_addr(addr);
    if (sendto(fd, data, len, 0, (struct sockaddr *)&to, sizeof to) < 0) {
        ZND_ERROR("broadcast send err: %s", strerror(errno));
        close(fd);
        return ZND_ERR_COMMON;
    }
    close(fd);
    return ZND_OK;
}

uint32_t ZND_NotifyBroadcast(int code)
{
    ZND_RouterAddrs a;
    ZND_GetRouterAddrs(&a);
    ZND_NotifyTargets targets = {};
    add_targets(&a.wan, &targets);
    add_targets(&a.wwan, &targets);
    add_targets(&a.lan, &targets);
    if (a.lan.count == 0) {
        char lan[ZND_ADDR_TEXT_SIZE] = {};
        UCI_GetOptionalCfgInfo("network", "lan", "ipaddr", lan, sizeof lan);
        ZND_ERROR("lan address(%s) invalid, no lan broadcast", lan);
    }

    json_object *msg = json_object_new_object();
    json_object_object_add(msg, "code", json_object_new_int(code));
    json_object_object_add(msg, "msg", json_object_new_string("interrupt"));
    json_object_object_add(msg, "data", nullptr);
    const char *text = json_object_to_json_string(msg);

    uint32_t ret = ZND_OK;
    for (int i = 0; i < targets.count && ret == ZND_OK; i++)
        ret = SendBroadcast(targets.addr[i], text, strlen(text));
    json_object_put(msg);
    return ret;
}
