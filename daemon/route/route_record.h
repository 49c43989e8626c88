// The records of the route sets: one destination network as address and mask texts, and a set of
// 1024 hashed buckets with the version text of its list.
#pragma once

#define ZND_ROUTE_HASH_SIZE 1024
#define ZND_ROUTE_TEXT_SIZE 16
#define ZND_ROUTE_VERSION_SIZE 32

struct ZND_RouteLink {
    ZND_RouteLink *next;
    ZND_RouteLink *prev;
};

struct ZND_RouteEntry {
    char ip[ZND_ROUTE_TEXT_SIZE];
    char mask[ZND_ROUTE_TEXT_SIZE];
    ZND_RouteLink link;   // next/prev within the bucket; a bucket head is a bare link
};

struct ZND_RouteHash {
    char version[ZND_ROUTE_VERSION_SIZE];   // not terminated when the list's version fills all 32 bytes
    ZND_RouteLink buckets[ZND_ROUTE_HASH_SIZE];
};
