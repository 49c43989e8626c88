// Route sets: a chained hash keyed by the address text. Buckets are circular doubly linked lists
// whose heads are bare links; entries keep insertion order within a bucket.
#include "route/route_hash.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include "core/log.h"

namespace {

ZND_RouteEntry *entry_of(ZND_RouteLink *link)
{
    return reinterpret_cast<ZND_RouteEntry *>(reinterpret_cast<char *>(link) - offsetof(ZND_RouteEntry, link));
}

void free_entries(ZND_RouteHash *set)
{
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++) {
        ZND_RouteLink *head = &set->buckets[i];
        while (head->next != head) {
            ZND_RouteLink *link = head->next;
            link->next->prev = link->prev;
            link->prev->next = link->next;
            link->next = link->prev = nullptr;
            free(entry_of(link));
        }
    }
}

// A network the kernel takes as it is written: dotted addresses, a contiguous mask, no host bits.
// A default route is no game network: it would take every packet of the router.
bool is_network(const char *ip, const char *mask)
{
    struct in_addr a, m;
    if (inet_pton(AF_INET, ip, &a) != 1 || inet_pton(AF_INET, mask, &m) != 1)
        return false;
    uint32_t bits = ntohl(m.s_addr);
    if (bits == 0 || (bits | (bits - 1)) != 0xFFFFFFFFu)
        return false;
    return (a.s_addr & ~m.s_addr) == 0;
}

} // namespace

uint32_t ZND_RouteHashIndex(const char *ip)
{
    uint32_t a = 0;   // wraps like the signed accumulator it models
    for (const char *p = ip; *p; p++)
        a = a * 1313u + (uint32_t)(int32_t)(signed char)*p;
    return (a & 0x7FFFFFFFu) % 1023u;
}

void ZND_RouteHashInit(ZND_RouteHash *set)
{
    memset(set->version, 0, sizeof set->version);
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++)
        set->buckets[i].next = set->buckets[i].prev = &set->buckets[i];
}

ZND_RouteEntry *ZND_RouteHashFind(ZND_RouteHash *set, const ZND_RouteEntry *key)
{
    ZND_DBG("find ip: %s, mask: %s", key->ip, key->mask);
    ZND_RouteLink *head = &set->buckets[ZND_RouteHashIndex(key->ip)];
    for (ZND_RouteLink *link = head->next; link != head; link = link->next) {
        ZND_RouteEntry *e = entry_of(link);
        ZND_DBG("list ip: %s, mask: %s", e->ip, e->mask);
        if (strcmp(e->ip, key->ip) == 0 && strcmp(e->mask, key->mask) == 0)
            return e;
    }
    return nullptr;
}

ZND_RouteEntry *ZND_RouteHashAdd(ZND_RouteHash *set, const ZND_RouteEntry *src)
{
    ZND_RouteEntry *found = ZND_RouteHashFind(set, src);
    if (found)
        return found;
    ZND_RouteEntry *e = static_cast<ZND_RouteEntry *>(malloc(sizeof *e));
    if (!e) {
        ZND_ERROR("hash add route(%s/%s) malloc failed", src->ip, src->mask);
        return nullptr;
    }
    memcpy(e->ip, src->ip, sizeof e->ip);
    memcpy(e->mask, src->mask, sizeof e->mask);
    ZND_RouteLink *head = &set->buckets[ZND_RouteHashIndex(e->ip)];
    e->link.next = head;
    e->link.prev = head->prev;
    head->prev->next = &e->link;
    head->prev = &e->link;
    return e;
}

void ZND_RouteHashClear(ZND_RouteHash *set)
{
    memset(set->version, 0, sizeof set->version);
    free_entries(set);
}

void ZND_RouteHashCopy(ZND_RouteHash *dst, const ZND_RouteHash *src)
{
    if (dst == src)   // would free the very entries it is about to copy
        return;
    memcpy(dst->version, src->version, sizeof dst->version);
    free_entries(dst);
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++) {
        const ZND_RouteLink *head = &src->buckets[i];
        for (const ZND_RouteLink *link = head->next; link != head; link = link->next)
            ZND_RouteHashAdd(dst, entry_of(const_cast<ZND_RouteLink *>(link)));
    }
}

void ZND_RouteHashWalk(ZND_RouteHash *set, ZND_RouteVisitFn fn, void *ctx)
{
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++) {
        ZND_RouteLink *head = &set->buckets[i];
        for (ZND_RouteLink *link = head->next; link != head; link = link->next)
            fn(entry_of(link), ctx);
    }
}

// List items "ADDRESS:MASK" as the route lists write them. An empty item (a trailing "|") is
// nothing to skip; every other refusal is told once.
int ZND_RouteEntryFromItem(ZND_RouteEntry *e, const char *item)
{
    if (!item[0])
        return -1;
    const char *colon = strchr(item, ':');
    const char *mask = colon ? colon + 1 : item;
    mask += strspn(mask, " \t\n\v\f\r");
    size_t ip_len = colon ? (size_t)(colon - item) : 0;
    size_t mask_len = strcspn(mask, " \t\n\v\f\r");
    char ip_text[ZND_ROUTE_TEXT_SIZE] = {}, mask_text[ZND_ROUTE_TEXT_SIZE] = {};
    if (ip_len == 0 || ip_len >= sizeof ip_text || mask_len == 0 || mask_len >= sizeof mask_text) {
        ZND_ERROR("route item(%s) invalid, skipped", item);
        return -1;
    }
    memcpy(ip_text, item, ip_len);
    memcpy(mask_text, mask, mask_len);
    if (!is_network(ip_text, mask_text)) {
        ZND_ERROR("route item(%s) invalid, skipped", item);
        return -1;
    }
    memcpy(e->ip, ip_text, sizeof e->ip);
    memcpy(e->mask, mask_text, sizeof e->mask);
    return 0;
}
