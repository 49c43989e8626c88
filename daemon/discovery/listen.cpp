// The discovery socket, watched by the event loop.
#include "discovery/listen.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <json-c/json.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include "config/uci.h"
#include "core/build_config.h"
#include "core/context.h"
#include "core/log.h"
#include "core/log_limit.h"
#include "core/result.h"
#include "discovery/router_addrs.h"
#include "platform/usock.h"

#define ZND_NOTIFY_LISTEN_PORT "7167"
#define ZND_NOTIFY_REPLY_PORT 7168
#define ZND_NOTIFY_BUF_SIZE 1024
#define ZND_NOTIFY_BATCH 16

namespace {

struct ZND_HostChoice {
    const char *host;   // nullptr: the requester's network is unknown
    int flag;
};

ZND_HostChoice choose_host(const ZND_RouterAddrs &a, uint32_t sender)
{
    if (a.lan.count == 0 || (a.wan.count == 0 && a.wwan.count == 0))
        return {nullptr, 0};
    const ZND_RouterAddr *own = ZND_RouterAddrFor(&a.lan, sender);
    if (own)
        return {own->ip, 1};
    own = ZND_RouterAddrFor(&a.wan, sender);
    if (!own)
        own = ZND_RouterAddrFor(&a.wwan, sender);
    return {own ? own->ip : nullptr, 0};
}

json_object *build_reply(const ZND_HostChoice &choice)
{
    char ssid[128] = {}, mac[128] = {};
    UCI_GetCfgInfo("wireless", "wifi", "ssid", ssid, sizeof ssid);
    UCI_GetCfgInfo("network", "wan", "macaddr", mac, sizeof mac);

    json_object *data = json_object_new_object();
    json_object_object_add(data, "host", choice.host ? json_object_new_string(choice.host) : nullptr);
    json_object_object_add(data, "flag", choice.host ? json_object_new_int(choice.flag) : nullptr);
    json_object_object_add(data, "ssid", json_object_new_string(ssid));
    json_object_object_add(data, "mac", json_object_new_string(mac));

    json_object *reply = json_object_new_object();
    json_object_object_add(reply, "code", json_object_new_int(6));
    json_object_object_add(reply, "msg", json_object_new_string(ZND_HOST_NAME " hostip"));
    json_object_object_add(reply, "data", data);
    return reply;
}

enum ZND_Receive {
    ZND_RECV_REQUEST,   // a datagram to look at is in the buffer
    ZND_RECV_SKIPPED,   // a datagram was taken and dropped
    ZND_RECV_NONE,      // nothing (more) to read, or the socket failed
};

ZND_Receive receive_request(int fd, char (&buf)[ZND_NOTIFY_BUF_SIZE], struct sockaddr_in *from)
{
    ssize_t n;
    socklen_t len;
    do {
        len = sizeof *from;
        memset(buf, 0, sizeof buf);
        n = recvfrom(fd, buf, sizeof buf, MSG_TRUNC, (struct sockaddr *)from, &len);
    } while (n < 0 && errno == EINTR);
    if (n == 0)
        return ZND_RECV_SKIPPED;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return ZND_RECV_NONE;
    if (n < 0) {
        ZND_ERROR_LIMITED(&g_znd.notifyLogLimits.recvError, "broadcast recv err, ret:%d, errno: %d !!!", (int)n,
                          errno);
        return ZND_RECV_NONE;
    }
    // A datagram that fills the buffer leaves no room for the terminator: it is not a request.
    if (n >= (ssize_t)sizeof buf) {
        ZND_ERROR_LIMITED(&g_znd.notifyLogLimits.tooLong, "broadcast msg too long, len:%d", (int)n);
        return ZND_RECV_SKIPPED;
    }
    return ZND_RECV_REQUEST;
}

void answer_request(int fd, char (&buf)[ZND_NOTIFY_BUF_SIZE], struct sockaddr_in from)
{
    ZND_DBG("接受到一个连接：%s \r\n", inet_ntoa(from.sin_addr));
    if (ZND_RequestMsgParse(buf) != ZND_OK) {
        ZND_ERROR_LIMITED(&g_znd.notifyLogLimits.notRequest, "unknow the request msg");
        return;
    }

    ZND_RouterAddrs addrs;
    ZND_GetRouterAddrs(&addrs);
    json_object *reply = build_reply(choose_host(addrs, from.sin_addr.s_addr));
    const char *text = json_object_to_json_string(reply);
    size_t len = strlen(text);
    if (len >= sizeof buf) {
        ZND_ERROR("respond msg too long, len:%d", (int)len);
        json_object_put(reply);
        return;
    }
    memset(buf, 0, sizeof buf);
    memcpy(buf, text, len);
    json_object_put(reply);

    from.sin_port = htons(ZND_NOTIFY_REPLY_PORT);
    if (sendto(fd, buf, len, 0, (struct sockaddr *)&from, sizeof from) < 0) {
        ZND_ERROR("broadcast send err !!!");
        return;
    }
    ZND_DBG("respond msg:\n%s\n", buf);
    ZND_INFO("respond broacast request ok");
}

} // namespace

uint32_t ZND_RequestMsgParse(const char *text)
{
    json_object *doc = json_tokener_parse(text);
    if (!doc) {
        ZND_ERROR_LIMITED(&g_znd.notifyLogLimits.notJson, "parse msg failure");
        return ZND_ERR_COMMON;
    }
    json_object *code = nullptr;
    if (json_object_is_type(doc, json_type_object)) {
        json_object_object_foreach(doc, key, value)
        {
            if (strcmp(key, "code") == 0 && json_object_is_type(value, json_type_int))
                code = value;
        }
    }
    uint32_t ret = ZND_ERR_COMMON;
    if (!code)
        ZND_ERROR_LIMITED(&g_znd.notifyLogLimits.noCode, "msg obj not found");
    else if (json_object_get_int64(code) == 5)
        ret = ZND_OK;
    json_object_put(doc);
    return ret;
}

// The socket is watched level-triggered and a turn takes at most ZND_NOTIFY_BATCH datagrams: the
// loop comes back while more are waiting, so a request that arrived together with others is still
// answered, and a host that floods the port cannot hold the loop away from the bus and the timers.
void Notify_Broadcast_cb(ZND_Fd *fd, unsigned int)
{
    char buf[ZND_NOTIFY_BUF_SIZE];
    struct sockaddr_in from = {};
    ZND_Receive r;
    for (int n = 0; n < ZND_NOTIFY_BATCH && (r = receive_request(fd->fd, buf, &from)) != ZND_RECV_NONE; n++)
        if (r == ZND_RECV_REQUEST)
            answer_request(fd->fd, buf, from);
}

uint32_t ZND_NotifyListenInit()
{
    int fd = ZND_Usock(ZND_USOCK_UDP | ZND_USOCK_SERVER | ZND_USOCK_NONBLOCK | ZND_USOCK_IPV4ONLY, "0.0.0.0",
                       ZND_NOTIFY_LISTEN_PORT);
    if (fd < 0) {
        ZND_ERROR("broadcast usock error");
        perror("usock");
        ZND_KEYLOG("Notify Init fail");
        exit(1);
    }
    g_znd.broadcastWatcher.fd = fd;
    g_znd.broadcastWatcher.cb = Notify_Broadcast_cb;
    if (ZND_FdAdd(&g_znd.broadcastWatcher, ZND_FD_READ) != 0) {
        ZND_ERROR("uloop_fd_add error");
        ZND_KEYLOG("Notify fd add fail");
        exit(1);
    }
    ZND_INFO("notify_init ok");
    return ZND_OK;
}
