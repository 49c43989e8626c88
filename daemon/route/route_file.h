// The local route list files: JSON documents shaped like a cloud reply, holding per-game lists of
// "ADDRESS:MASK" networks; only game 757 is taken.
#pragma once
#include <cstdint>
#include "route/route_hash.h"

struct json_object;

// 0, 53 when the file is missing or not JSON, or the parser's result. Entries are added to set.
uint32_t CFGI_ReadLoginRouteFromJsonFile(const char *path, ZND_RouteHash *set);
uint32_t CFGI_ReadTrafficRouteFromJsonFile(const char *path, ZND_RouteHash *set);
// 0, 2, or the result of the "code" check. Every failure comes before the first entry is added.
uint32_t ZND_ParseLoginRouteFromJson(json_object *doc, ZND_RouteHash *set);
uint32_t ZND_ParseTrafficRouteFromJson(json_object *doc, ZND_RouteHash *set);
