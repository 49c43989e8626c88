// Routing netlink over libmnl. One request at a time: it is sent with NLM_F_ACK and the call waits
// for the kernel's acknowledgement before returning, so requests never overlap. What goes wrong is
// told through the log sink, as error lines of the daemon.
#include "platform/rtnl.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include "platform/syslog.h"

namespace {

ZND_RtnlTalkHook g_talk_hook = nullptr;

// Large enough for an error acknowledgement carrying any request we build, and for a page of
// unrelated messages; kept off the heap so that a request costs no allocation.
constexpr size_t kRecvBufSize = 8192;

// Looks through one datagram for the answer to seq. 1 = acknowledged, -1 = refused or malformed,
// 0 = not in this datagram.
int scan_for_ack(const ZND_Rtnl *rth, const char *buf, int len, uint32_t seq)
{
    const struct nlmsghdr *h = reinterpret_cast<const struct nlmsghdr *>(buf);
    for (; mnl_nlmsg_ok(h, len); h = mnl_nlmsg_next(h, &len)) {
        if (h->nlmsg_pid != rth->portid || h->nlmsg_seq != seq)
            continue;   // a late answer to an earlier request, or not ours
        if (h->nlmsg_type != NLMSG_ERROR)
            continue;   // no answer was asked for; only the acknowledgement matters
        if (h->nlmsg_len < mnl_nlmsg_size(sizeof(struct nlmsgerr))) {
            ZND_PLATFORM_ERROR("netlink: truncated acknowledgement");
            return -1;
        }
        const struct nlmsgerr *err = static_cast<const struct nlmsgerr *>(mnl_nlmsg_get_payload(h));
        if (err->error == 0)
            return 1;
        ZND_PLATFORM_ERROR("RTNETLINK answers: %s", strerror(-err->error));
        errno = -err->error;
        return -1;
    }
    return 0;
}

int wait_for_ack(ZND_Rtnl *rth, uint32_t seq)
{
    alignas(struct nlmsghdr) char buf[kRecvBufSize];
    for (;;) {
        ssize_t got = mnl_socket_recvfrom(rth->nl, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            ZND_PLATFORM_ERROR("netlink receive error: %s", strerror(errno));
            return -1;
        }
        if (got == 0) {
            ZND_PLATFORM_ERROR("netlink: end of file");
            return -1;
        }
        int found = scan_for_ack(rth, buf, (int)got, seq);
        if (found != 0)
            return found > 0 ? 0 : -1;
    }
}

} // namespace

int ZND_RtnlOpen(ZND_Rtnl *rth)
{
    rth->fd = -1;
    rth->portid = 0;
    rth->nl = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (!rth->nl) {
        ZND_PLATFORM_ERROR("Cannot open netlink socket: %s", strerror(errno));
        return -1;
    }
    if (mnl_socket_bind(rth->nl, 0, MNL_SOCKET_AUTOPID) < 0) {
        ZND_PLATFORM_ERROR("Cannot bind netlink socket: %s", strerror(errno));
        mnl_socket_close(rth->nl);
        rth->nl = nullptr;
        return -1;
    }
    rth->fd = mnl_socket_get_fd(rth->nl);
    rth->portid = mnl_socket_get_portid(rth->nl);
    rth->seq = (uint32_t)time(nullptr);
    return 0;
}

void ZND_RtnlClose(ZND_Rtnl *rth)
{
    if (rth->nl)
        mnl_socket_close(rth->nl);
    rth->nl = nullptr;
    rth->fd = -1;
}

int ZND_RtnlTalk(ZND_Rtnl *rth, struct nlmsghdr *n)
{
    n->nlmsg_seq = ++rth->seq;
    n->nlmsg_flags |= NLM_F_ACK;
    if (g_talk_hook)
        return g_talk_hook(n);
    if (!rth->nl) {
        ZND_PLATFORM_ERROR("netlink: socket not open");
        return -1;
    }
    if (mnl_socket_sendto(rth->nl, n, n->nlmsg_len) < 0) {
        ZND_PLATFORM_ERROR("Cannot talk to rtnetlink: %s", strerror(errno));
        return -1;
    }
    return wait_for_ack(rth, n->nlmsg_seq);
}

int ZND_AddAttrL(struct nlmsghdr *n, int maxlen, int type, const void *data, int alen)
{
    if (alen < 0 || maxlen < 0 || !mnl_attr_put_check(n, (size_t)maxlen, (uint16_t)type, (size_t)alen, data)) {
        ZND_PLATFORM_ERROR("netlink attribute %d does not fit in %d bytes", type, maxlen);
        return -1;
    }
    return 0;
}

int ZND_AddAttr32(struct nlmsghdr *n, int maxlen, int type, uint32_t data)
{
    return ZND_AddAttrL(n, maxlen, type, &data, sizeof data);
}

ZND_RtnlTalkHook ZND_RtnlSetTalkHook(ZND_RtnlTalkHook hook)
{
    ZND_RtnlTalkHook old = g_talk_hook;
    g_talk_hook = hook;
    return old;
}
