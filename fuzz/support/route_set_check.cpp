#include "route_set_check.h"

#include <cstring>
#include <set>
#include <utility>
#include <vector>
#include "fuzz_env.h"

namespace {

bool whole_text(const char (&field)[ZND_ROUTE_TEXT_SIZE])
{
    size_t len = strnlen(field, sizeof field);
    return len > 0 && len < sizeof field;
}

struct Listing {
    std::vector<std::pair<std::string, std::string>> entries;
    const std::string *input;
};

void visit(ZND_RouteEntry *e, void *ctx)
{
    Listing *l = static_cast<Listing *>(ctx);
    const std::string &in = *l->input;
    ZND_FUZZ_CHECK(whole_text(e->ip) && whole_text(e->mask), in);
    ZND_FUZZ_CHECK(strcspn(e->mask, " \t\n\v\f\r") == strlen(e->mask), std::string(e->mask) + "\n" + in);
    ZND_FUZZ_CHECK(e->link.next->prev == &e->link && e->link.prev->next == &e->link, in);
    l->entries.emplace_back(e->ip, e->mask);
}

Listing list(ZND_RouteHash *set, const std::string &input)
{
    Listing l{{}, &input};
    ZND_RouteHashWalk(set, visit, &l);
    return l;
}

} // namespace

size_t ZND_FuzzCheckRouteSet(ZND_RouteHash *set, const std::string &input)
{
    Listing l = list(set, input);
    std::set<std::pair<std::string, std::string>> seen;
    for (const auto &entry : l.entries) {
        ZND_FUZZ_CHECK(seen.insert(entry).second, "twice: " + entry.first + ":" + entry.second + "\n" + input);
        ZND_RouteEntry key = {};
        memcpy(key.ip, entry.first.c_str(), entry.first.size() + 1);
        memcpy(key.mask, entry.second.c_str(), entry.second.size() + 1);
        ZND_RouteEntry *found = ZND_RouteHashFind(set, &key);
        ZND_FUZZ_CHECK(found && strcmp(found->ip, key.ip) == 0 && strcmp(found->mask, key.mask) == 0, input);
        // The entry sits in the bucket of its address.
        ZND_RouteLink *head = &set->buckets[ZND_RouteHashIndex(key.ip)];
        bool in_bucket = false;
        for (ZND_RouteLink *link = head->next; link != head && !in_bucket; link = link->next)
            in_bucket = link == &found->link;
        ZND_FUZZ_CHECK(in_bucket, input);
    }
    return l.entries.size();
}

ZND_RouteHash *ZND_FuzzRouteSet()
{
    static ZND_RouteHash set;
    static bool ready = false;
    if (!ready) {
        ZND_RouteHashInit(&set);
        ready = true;
    }
    return &set;
}
