// Route synchronisation. Each operation owns one rtnetlink handle for its duration, looks up the
// login next hop or the tunnel device and the router's own networks once, and walks the set in its
// fixed order. Single-route failures are summed and reported at the end; routes already installed
// stay. A route over one of the router's own networks is never installed, whatever list named it.
#include "route/route_sync.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <net/if.h>
#include <unordered_set>
#include <vector>
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "platform/rtnl.h"
#include "route/route_file.h"
#include "route/route_kernel.h"

namespace {

struct LoginWalk {
    ZND_Rtnl *rth;
    ZND_LoginNextHop hop;
    // Add new / delete not used: the kernel keys of the other set; an entry whose key is there is
    // left alone.
    const std::unordered_set<uint64_t> *other_keys;
    std::vector<ZND_RouterNet> router_nets;
    uint32_t failures;
};

struct TrafficWalk {
    ZND_Rtnl *rth;
    int ifindex;
    std::vector<ZND_RouterNet> router_nets;
    uint32_t failures;
};

// Told on every add, so that the list can be mended; a delete passes over it quietly, as such a
// route was never added.
bool over_router_net(const std::vector<ZND_RouterNet> &nets, const ZND_RouteEntry *e, bool tell)
{
    const ZND_RouterNet *n = ZND_RouteOverlapsRouterNet(nets, e);
    if (n && tell) {
        struct in_addr a = {htonl(n->net)};
        char net[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &a, net, sizeof net);
        ZND_ERROR("route(%s/%s) overlaps router network(%s/%d), skipped", e->ip, e->mask, net, n->len);
    }
    return n != nullptr;
}

void add_login(ZND_RouteEntry *e, void *ctx)
{
    LoginWalk *w = static_cast<LoginWalk *>(ctx);
    if (!over_router_net(w->router_nets, e, true))
        w->failures += ZND_LoginRouteCtrl(w->rth, e, &w->hop, ZND_ROUTE_OP_ADD);
}

// Decided by the kernel key, not the texts: an entry that only differs in writing from one of the
// other set is the same route, and must be neither added (the kernel refuses it) nor deleted (that
// would take away the one route of its network).
bool only_in_this_set(const LoginWalk *w, const ZND_RouteEntry *e)
{
    return w->other_keys->count(ZND_RouteKernelKey(e)) == 0;
}

void add_login_if_new(ZND_RouteEntry *e, void *ctx)
{
    LoginWalk *w = static_cast<LoginWalk *>(ctx);
    if (!only_in_this_set(w, e) || over_router_net(w->router_nets, e, true))
        return;
    ZND_DBG("new login route(%s/%s) need add to kernel", e->ip, e->mask);
    w->failures += ZND_LoginRouteCtrl(w->rth, e, &w->hop, ZND_ROUTE_OP_ADD);
}

void del_login_if_unused(ZND_RouteEntry *e, void *ctx)
{
    LoginWalk *w = static_cast<LoginWalk *>(ctx);
    if (!only_in_this_set(w, e) || over_router_net(w->router_nets, e, false))
        return;
    ZND_DBG("del not used login route(%s/%s) from kernel", e->ip, e->mask);
    w->failures += ZND_LoginRouteCtrl(w->rth, e, &w->hop, ZND_ROUTE_OP_DEL);
}

void add_traffic(ZND_RouteEntry *e, void *ctx)
{
    TrafficWalk *w = static_cast<TrafficWalk *>(ctx);
    if (!over_router_net(w->router_nets, e, true))
        w->failures += ZND_TrafficRouteCtrl(w->rth, w->ifindex, e, ZND_ROUTE_OP_ADD);
}

void collect_key(ZND_RouteEntry *e, void *ctx)
{
    static_cast<std::unordered_set<uint64_t> *>(ctx)->insert(ZND_RouteKernelKey(e));
}

// Next hop, handle, optional policy rule, then one walk over set (every entry, or with other those
// whose kernel key other does not hold). Returns the walk's failure sum in *failures, or the code
// that stopped it before any request.
uint32_t walk_login(ZND_RouteHash *set, ZND_RouteHash *other, ZND_RouteVisitFn fn, bool ensure_rule,
                    uint32_t *failures)
{
    std::unordered_set<uint64_t> other_keys;
    LoginWalk w = {nullptr, {0, 0}, &other_keys, {}, 0};
    if (ZND_GetLoginNextHop(&w.hop) != ZND_OK) {
        ZND_ERROR("get default gateway failed!");
        return ZND_ERR_GATEWAY;
    }
    ZND_GetRouterNets(&w.router_nets);
    ZND_Rtnl rth;
    uint32_t rc = ZND_OpenNlSocket(&rth);
    if (rc != ZND_OK)
        return rc;
    if (ensure_rule)
        ZND_LoginRouteRuleInit();
    if (other)
        ZND_RouteHashWalk(other, collect_key, &other_keys);
    w.rth = &rth;
    ZND_RouteHashWalk(set, fn, &w);
    ZND_CloseNlSocket(&rth);
    *failures = w.failures;
    return ZND_OK;
}

uint32_t login_add_result(uint32_t rc, uint32_t failures)
{
    if (rc != ZND_OK)
        return rc;
    if (failures) {
        ZND_ERROR("login route table add failed!");
        return ZND_ERR_LOGIN_ROUTE_ADD;
    }
    return ZND_OK;
}

uint32_t flush_table(const char *info, const char *cmd, uint32_t fail_code)
{
    ZND_INFO("%s", info);
    // Only a shell that cannot be started counts; a table that does not exist yet is empty.
    return ZND_System(cmd) < 0 ? fail_code : ZND_OK;
}

} // namespace

void ZND_LocalRouteTabInit()
{
    ZND_RouteHash *login = ZND_GetLoginRouteSet();
    ZND_RouteHashInit(login);
    if (CFGI_ReadLoginRouteFromJsonFile(ZND_PATH_LOGIN_ROUTE_LIST, login) != ZND_OK) {
        ZND_ERROR("read login route file fail");
        exit(1);
    }
    ZND_RouteHash *traffic = ZND_GetTrafficRouteSet();
    ZND_RouteHashInit(traffic);
    if (CFGI_ReadTrafficRouteFromJsonFile(ZND_PATH_TRAFFIC_ROUTE_LIST, traffic) != ZND_OK) {
        ZND_ERROR("read traffic route file fail");
        exit(1);
    }
    ZND_INFO("local route table init ok");
}

void ZND_LocalRouteTabDeinit()
{
    ZND_RouteHashClear(ZND_GetLoginRouteSet());
    ZND_RouteHashClear(ZND_GetTrafficRouteSet());
    ZND_INFO("route table deinit ok");
}

uint32_t ZND_AddAllLoginRouteToKernel(ClientRecord *, ZND_RouteHash *set)
{
    uint32_t failures = 0;
    uint32_t rc = walk_login(set, nullptr, add_login, true, &failures);
    return login_add_result(rc, failures);
}

uint32_t ZND_AddAllTrafficRouteToKernel(ClientRecord *client, ZND_RouteHash *set)
{
    TrafficWalk w = {nullptr, (int)if_nametoindex(client->accTun), {}, 0};
    if (w.ifindex == 0) {
        ZND_ERROR("get dev(%s) index(0) failed!", client->accTun);
        return ZND_ERR_TRAFFIC_IFINDEX;
    }
    ZND_GetRouterNets(&w.router_nets);
    ZND_Rtnl rth;
    uint32_t rc = ZND_OpenNlSocket(&rth);
    if (rc != ZND_OK)
        return rc;
    ZND_TrafficRouteRuleInit();
    w.rth = &rth;
    ZND_RouteHashWalk(set, add_traffic, &w);
    ZND_CloseNlSocket(&rth);
    if (w.failures) {
        ZND_ERROR("traffic route table add failed!");
        return ZND_ERR_TRAFFIC_ROUTE_ADD;
    }
    return ZND_OK;
}

uint32_t ZND_DelAllLoginRouteFromKernel()
{
    return flush_table("del kernel login route table", "ip route flush table login", ZND_ERR_LOGIN_ROUTE_DEL);
}

uint32_t ZND_DelAllTrafficRouteFromKernel()
{
    return flush_table("del kernel traffic route table", "ip route flush table traffic",
                       ZND_ERR_TRAFFIC_ROUTE_DEL);
}

uint32_t ZND_DelAllRouteFromKernel()
{
    uint32_t login = ZND_DelAllLoginRouteFromKernel();
    uint32_t traffic = ZND_DelAllTrafficRouteFromKernel();
    return login != ZND_OK ? login : traffic;
}

uint32_t ZND_AddNewLoginRouteToKernel(ZND_RouteHash *newSet, ZND_RouteHash *curSet)
{
    uint32_t failures = 0;
    uint32_t rc = walk_login(newSet, curSet, add_login_if_new, true, &failures);
    return login_add_result(rc, failures);
}

uint32_t ZND_DelNotUsedLoginRouteFromKernel(ZND_RouteHash *newSet, ZND_RouteHash *curSet)
{
    uint32_t failures = 0;
    uint32_t rc = walk_login(curSet, newSet, del_login_if_unused, false, &failures);
    if (rc != ZND_OK)
        return rc;
    if (failures) {
        ZND_ERROR("login route table del failed!");
        return ZND_ERR_LOGIN_ROUTE_DEL;
    }
    return ZND_OK;
}
