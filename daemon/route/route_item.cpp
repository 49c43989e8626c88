// List items "ADDRESS:MASK" as the route lists write them.
#include <cstring>
#include "route/route_hash.h"

int ZND_RouteEntryFromItem(ZND_RouteEntry *e, const char *item)
{
    const char *colon = strchr(item, ':');
    if (!colon || colon == item)
        return -1;
    size_t ip_len = (size_t)(colon - item);
    const char *mask = colon + 1;
    mask += strspn(mask, " \t\n\v\f\r");
    size_t mask_len = strcspn(mask, " \t\n\v\f\r");
    if (ip_len >= ZND_ROUTE_TEXT_SIZE || mask_len == 0 || mask_len >= ZND_ROUTE_TEXT_SIZE)
        return -1;
    memset(e->ip, 0, sizeof e->ip);
    memset(e->mask, 0, sizeof e->mask);
    memcpy(e->ip, item, ip_len);
    memcpy(e->mask, mask, mask_len);
    return 0;
}
