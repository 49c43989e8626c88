// Kernel route control: one rtnetlink request per route, each acknowledged before the next.
#include "route/route_kernel.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sstream>
#include <string>
#include "core/log.h"
#include "core/result.h"
#include "platform/shell.h"

namespace {

// Room for the longest request: header, route message and two 32-bit attributes.
constexpr size_t kRouteRequestSize =
    MNL_NLMSG_HDRLEN + MNL_ALIGN(sizeof(struct rtmsg)) + 2 * MNL_ALIGN(MNL_ATTR_HDRLEN + sizeof(uint32_t));

// Gateway text of a "default ..." line: its third word, as long as it fits the 16-byte field.
bool gateway_of_line(const std::string &line, std::string *gw)
{
    std::istringstream words(line);
    std::string first, second, third;
    if (!(words >> first) || first != "default" || !(words >> second >> third))
        return false;
    *gw = third;
    return true;
}

// Builds the request for e in buf (kRouteRequestSize bytes): header, route message and the
// destination; the caller adds the next hop of an add.
struct nlmsghdr *put_request(char *buf, const ZND_RouteEntry *e, int table, int op, unsigned char add_scope)
{
    bool add = op == ZND_ROUTE_OP_ADD;
    struct nlmsghdr *n = mnl_nlmsg_put_header(buf);
    n->nlmsg_type = add ? RTM_NEWROUTE : RTM_DELROUTE;
    // On a delete, 0x200 means NLM_F_BULK to current kernels, which refuse it for routes
    // (EOPNOTSUPP); a delete carries no modifier flags, as with the ip tool.
    n->nlmsg_flags = add ? NLM_F_REQUEST | NLM_F_CREATE | NLM_F_EXCL : NLM_F_REQUEST;
    struct rtmsg *r = static_cast<struct rtmsg *>(mnl_nlmsg_put_extra_header(n, sizeof *r));
    r->rtm_family = AF_INET;
    r->rtm_dst_len = (unsigned char)ZND_MaskToPrefixLen(inet_addr(e->mask));
    r->rtm_table = (unsigned char)table;
    r->rtm_protocol = RTPROT_BOOT;
    r->rtm_scope = add ? add_scope : (unsigned char)RT_SCOPE_NOWHERE;
    r->rtm_type = RTN_UNICAST;
    mnl_attr_put_u32(n, RTA_DST, inet_addr(e->ip));
    return n;
}

uint32_t prefix_mask(int len)
{
    return len == 0 ? 0 : 0xFFFFFFFFu << (32 - len);
}

// "NET/LEN dev DEVICE ..." or "ADDRESS dev DEVICE ..." without a gateway.
bool router_net_of_line(const std::string &line, ZND_RouterNet *net)
{
    std::istringstream words(line);
    std::string dst, word;
    if (!(words >> dst))
        return false;
    bool dev = false;
    while (words >> word) {
        if (word == "via")
            return false;
        dev = dev || word == "dev";
    }
    std::string addr = dst.substr(0, dst.find('/'));
    int len = 32;
    if (addr.size() < dst.size()) {
        char *end = nullptr;
        const char *text = dst.c_str() + addr.size() + 1;
        long n = strtol(text, &end, 10);
        if (end == text || *end || n < 0 || n > 32)
            return false;
        len = (int)n;
    }
    struct in_addr a;
    if (!dev || inet_pton(AF_INET, addr.c_str(), &a) != 1)
        return false;
    *net = {ntohl(a.s_addr) & prefix_mask(len), len};
    return true;
}

void ensure_rule(const char *check_cmd, const char *add_cmd)
{
    if (ZND_System(check_cmd) != 0)
        ZND_System(add_cmd);
}

} // namespace

uint32_t CFGI_GetGateway(char *out, size_t size)
{
    std::string listing;
    if (ZND_ShellRead("ip route", &listing) != 0) {
        ZND_ERROR("popen error.");
        return ZND_ERR_COMMON;
    }
    memset(out, 0, size);
    std::istringstream lines(listing);
    std::string line, gw;
    while (std::getline(lines, line)) {
        if (gateway_of_line(line, &gw))
            break;
    }
    // A word that does not fit the 16-byte gateway field, or the caller's buffer, is no gateway.
    if (gw.empty() || gw.size() >= ZND_ROUTE_TEXT_SIZE || gw.size() >= size)
        return ZND_ERR_COMMON;
    memcpy(out, gw.c_str(), gw.size() + 1);
    return ZND_OK;
}

int ZND_MaskToPrefixLen(uint32_t mask)
{
    uint32_t m = ntohl(mask);
    int len = 0;
    while (len < 32 && (m & (0x80000000u >> len)))
        len++;
    return len;
}

uint64_t ZND_RouteKernelKey(const ZND_RouteEntry *e)
{
    int len = ZND_MaskToPrefixLen(inet_addr(e->mask));
    uint32_t dst = ntohl(inet_addr(e->ip));
    uint32_t net = len == 0 ? 0 : dst & (0xFFFFFFFFu << (32 - len));
    return ((uint64_t)net << 8) | (uint64_t)len;
}

void ZND_GetRouterNets(std::vector<ZND_RouterNet> *nets)
{
    nets->clear();
    std::string listing;
    if (ZND_ShellRead("ip route", &listing) != 0)
        return;
    std::istringstream lines(listing);
    std::string line;
    ZND_RouterNet net;
    while (std::getline(lines, line)) {
        if (router_net_of_line(line, &net))
            nets->push_back(net);
    }
}

const ZND_RouterNet *ZND_RouteOverlapsRouterNet(const std::vector<ZND_RouterNet> &nets, const ZND_RouteEntry *e)
{
    int len = ZND_MaskToPrefixLen(inet_addr(e->mask));
    uint32_t dst = ntohl(inet_addr(e->ip));
    for (const ZND_RouterNet &n : nets) {
        // Two prefixes overlap when the shorter one holds the other.
        uint32_t mask = prefix_mask(len < n.len ? len : n.len);
        if ((dst & mask) == (n.net & mask))
            return &n;
    }
    return nullptr;
}

uint32_t ZND_GetLoginNextHop(ZND_LoginNextHop *hop)
{
    char text[ZND_ROUTE_TEXT_SIZE];
    if (CFGI_GetGateway(text, sizeof text) != ZND_OK)
        return ZND_ERR_COMMON;
    struct in_addr addr;
    if (inet_pton(AF_INET, text, &addr) == 1) {
        *hop = {addr.s_addr, 0};
        return ZND_OK;
    }
    // "default dev DEVICE ...": the third word is the device. Routes "via" a text that is no
    // address would go to the broadcast address, so only an existing device is taken.
    int ifindex = (int)if_nametoindex(text);
    if (ifindex == 0)
        return ZND_ERR_COMMON;
    *hop = {0, ifindex};
    return ZND_OK;
}

uint32_t ZND_OpenNlSocket(ZND_Rtnl *rth)
{
    rth->fd = -1;
    if (ZND_RtnlOpen(rth) < 0) {
        ZND_ERROR("open route device failed!!");
        return ZND_ERR_NETLINK_OPEN;
    }
    return ZND_OK;
}

void ZND_CloseNlSocket(ZND_Rtnl *rth)
{
    ZND_RtnlClose(rth);
}

// Only the rule itself counts, as "ip rule list" prints it: another rule of that pref or for that
// table (another selector, another mark) is not ours, and ours is added beside it.
void ZND_LoginRouteRuleInit()
{
    ensure_rule("ip rule list | grep -qxE '99:[[:space:]]+from all lookup login[[:space:]]*'",
                "ip rule add from all lookup login pref 99");
}

void ZND_TrafficRouteRuleInit()
{
    ensure_rule("ip rule list | grep -qxE '100:[[:space:]]+from all fwmark 0x1 lookup traffic[[:space:]]*'",
                "ip rule add fwmark 1 table traffic pref 100");
}

uint32_t ZND_LoginRouteCtrl(ZND_Rtnl *rth, const ZND_RouteEntry *e, const ZND_LoginNextHop *hop, int op)
{
    bool via_device = hop->gateway == 0 && hop->ifindex != 0;
    alignas(struct nlmsghdr) char buf[kRouteRequestSize];
    struct nlmsghdr *n =
        put_request(buf, e, ZND_LOGIN_ROUTE_TABLE, op, via_device ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE);
    if (op == ZND_ROUTE_OP_ADD && via_device)
        mnl_attr_put_u32(n, RTA_OIF, (uint32_t)hop->ifindex);
    else if (op == ZND_ROUTE_OP_ADD)
        mnl_attr_put_u32(n, RTA_GATEWAY, hop->gateway);
    if (ZND_RtnlTalk(rth, n) < 0) {
        ZND_DBG("login route(%x:%x) handle failed!", ntohl(inet_addr(e->ip)), ntohl(inet_addr(e->mask)));
        return ZND_ERR_COMMON;
    }
    return ZND_OK;
}

uint32_t ZND_TrafficRouteCtrl(ZND_Rtnl *rth, int ifindex, const ZND_RouteEntry *e, int op)
{
    alignas(struct nlmsghdr) char buf[kRouteRequestSize];
    struct nlmsghdr *n = put_request(buf, e, ZND_TRAFFIC_ROUTE_TABLE, op, RT_SCOPE_LINK);
    if (op == ZND_ROUTE_OP_ADD)
        mnl_attr_put_u32(n, RTA_OIF, (uint32_t)ifindex);
    if (ZND_RtnlTalk(rth, n) < 0) {
        ZND_DBG("traffic route(%x:%x, ifIndex:%d) handle failed!", ntohl(inet_addr(e->ip)),
                ntohl(inet_addr(e->mask)), ifindex);
        return ZND_ERR_COMMON;
    }
    return ZND_OK;
}

int ZND_LoginRouteTabIsEmpty()
{
    return ZND_System("ip route show table login| head -n 1| grep dev > /dev/null") != 0 ? 1 : 0;
}

int ZND_TrafficRouteTabIsEmpty()
{
    return ZND_System("ip route show table traffic| head -n 1| grep dev > /dev/null") != 0 ? 1 : 0;
}
