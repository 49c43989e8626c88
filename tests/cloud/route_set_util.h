// Reading a route set in tests.
#pragma once
#include <cstddef>
#include <set>
#include <string>
#include "route/route_hash.h"

// Every entry as "ADDRESS/MASK".
inline std::set<std::string> RouteSetItems(const ZND_RouteHash &set, size_t *count = nullptr)
{
    std::set<std::string> out;
    size_t n = 0;
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++) {
        const ZND_RouteLink *head = &set.buckets[i];
        for (const ZND_RouteLink *l = head->next; l && l != head; l = l->next) {
            const ZND_RouteEntry *e = reinterpret_cast<const ZND_RouteEntry *>(
                reinterpret_cast<const char *>(l) - offsetof(ZND_RouteEntry, link));
            out.insert(std::string(e->ip) + "/" + e->mask);
            n++;
        }
    }
    if (count)
        *count = n;
    return out;
}
