// Event notifications go to the /24 broadcast address of each of the router's networks.
#include "discovery/broadcast.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
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

// "a.b.c.255" from "a.b.c.d"; false when the address is not dotted.
bool broadcast_of(const char *ip, char out[ZND_ADDR_TEXT_SIZE])
{
    int a, b, c;
    if (!ip[0] || sscanf(ip, "%d.%d.%d.%*d", &a, &b, &c) != 3)
        return false;
    snprintf(out, ZND_ADDR_TEXT_SIZE, "%d.%d.%d.255", a & 0xFF, b & 0xFF, c & 0xFF);
    return true;
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
    char lan[ZND_ADDR_TEXT_SIZE] = {}, wan[ZND_ADDR_TEXT_SIZE] = {}, wwan[ZND_ADDR_TEXT_SIZE] = {};
    UCI_GetCfgInfo("network", "lan", "ipaddr", lan, sizeof lan);
    ZND_GetWanAddrs(wan, wwan);

    char targets[3][ZND_ADDR_TEXT_SIZE];
    int count = 0;
    for (const char *ip : {wan, wwan, lan}) {
        if (broadcast_of(ip, targets[count]))
            count++;
        else if (ip == lan)
            ZND_ERROR("lan address(%s) invalid, no lan broadcast", lan);
    }

    json_object *msg = json_object_new_object();
    json_object_object_add(msg, "code", json_object_new_int(code));
    json_object_object_add(msg, "msg", json_object_new_string("interrupt"));
    json_object_object_add(msg, "data", nullptr);
    const char *text = json_object_to_json_string(msg);

    uint32_t ret = ZND_OK;
    for (int i = 0; i < count && ret == ZND_OK; i++)
        ret = SendBroadcast(targets[i], text, strlen(text));
    json_object_put(msg);
    return ret;
}
