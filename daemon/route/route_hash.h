// Route sets: destination networks as address and mask texts in a chained hash of 1024 buckets.
#pragma once
#include <cstddef>
#include <cstdint>
#include "route/route_record.h"

uint32_t ZND_RouteHashIndex(const char *ip);
void ZND_RouteHashInit(ZND_RouteHash *set);
ZND_RouteEntry *ZND_RouteHashFind(ZND_RouteHash *set, const ZND_RouteEntry *key);
ZND_RouteEntry *ZND_RouteHashAdd(ZND_RouteHash *set, const ZND_RouteEntry *src);
void ZND_RouteHashClear(ZND_RouteHash *set);
void ZND_RouteHashCopy(ZND_RouteHash *dst, const ZND_RouteHash *src);

// Visits every entry in the fixed order: bucket 0 to 1023, insertion order within a bucket. Kernel
// requests for a set are issued in this order. fn must not add or remove entries.
typedef void (*ZND_RouteVisitFn)(ZND_RouteEntry *e, void *ctx);
void ZND_RouteHashWalk(ZND_RouteHash *set, ZND_RouteVisitFn fn, void *ctx);

// Fills e from a list item "ADDRESS:MASK" (the mask ends at the first blank). Returns 0, or -1
// when the item is no network the kernel would take as written: no colon, an address or mask that
// is not dotted IPv4 or does not fit its 16-byte field, a mask that is not contiguous, host bits
// beyond the mask, or the default route. e is then left unchanged and, unless the item was empty,
// one error line tells which item was skipped.
int ZND_RouteEntryFromItem(ZND_RouteEntry *e, const char *item);
