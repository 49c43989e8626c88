// Helpers shared by the route tests: entries, set contents, and a recorder for the requests that
// would go to the kernel.
#pragma once
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <linux/netlink.h>
#include "platform/rtnl.h"
#include "route/route_hash.h"

using Bytes = std::vector<unsigned char>;

inline ZND_RouteEntry MakeEntry(const char *ip, const char *mask)
{
    ZND_RouteEntry e;
    memset(&e, 0, sizeof e);
    snprintf(e.ip, sizeof e.ip, "%s", ip);
    snprintf(e.mask, sizeof e.mask, "%s", mask);
    return e;
}

// "ip/mask" of every entry, in walk order.
inline std::vector<std::string> SetContents(ZND_RouteHash *set)
{
    std::vector<std::string> out;
    ZND_RouteHashWalk(
        set, [](ZND_RouteEntry *e, void *ctx) {
            static_cast<std::vector<std::string> *>(ctx)->push_back(std::string(e->ip) + "/" + e->mask);
        },
        &out);
    return out;
}

// Number of entries in set.
inline size_t RouteCount(ZND_RouteHash *set)
{
    size_t n = 0;
    ZND_RouteHashWalk(
        set, [](ZND_RouteEntry *, void *ctx) { ++*static_cast<size_t *>(ctx); }, &n);
    return n;
}

// A route set that clears itself.
struct ScopedSet {
    ZND_RouteHash set;
    ScopedSet() { ZND_RouteHashInit(&set); }
    ~ScopedSet() { ZND_RouteHashClear(&set); }
    ZND_RouteHash *operator&() { return &set; }
    void Add(const char *ip, const char *mask)
    {
        ZND_RouteEntry e = MakeEntry(ip, mask);
        ZND_RouteHashAdd(&set, &e);
    }
};

// Captures every request handed to ZND_RtnlTalk instead of the kernel. Requests whose destination
// (first RTA_DST) equals refuse_dst are answered with a failure.
class TalkRecorder {
public:
    TalkRecorder() : saved_(ZND_RtnlSetTalkHook(&TalkRecorder::Hook)) { active_ = this; }
    ~TalkRecorder()
    {
        ZND_RtnlSetTalkHook(saved_);
        active_ = nullptr;
    }
    TalkRecorder(const TalkRecorder &) = delete;
    TalkRecorder &operator=(const TalkRecorder &) = delete;

    std::vector<std::vector<unsigned char>> requests;
    uint32_t refuse_dst = 0;   // network order; 0 = accept everything

private:
    static int Hook(const struct nlmsghdr *n)
    {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(n);
        active_->requests.emplace_back(p, p + n->nlmsg_len);
        uint32_t dst;
        memcpy(&dst, p + 32, sizeof dst);   // RTA_DST payload follows the 28-byte head and 4-byte rta
        return active_->refuse_dst && dst == active_->refuse_dst ? -1 : 0;
    }
    static inline TalkRecorder *active_ = nullptr;
    ZND_RtnlTalkHook saved_;
};
