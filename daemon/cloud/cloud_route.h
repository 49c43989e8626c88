// The login route list of the cloud service ("/api/gamelist"): the networks of the daemon's game.
#pragma once
#include <cstddef>
#include <cstdint>
#include "config/client_record.h"
#include "route/route_hash.h"

// Fetches the list from the first cloud server that gives one and adds its routes to set.
uint32_t ZND_GetCloudLoginRoute(ClientRecord *client, ZND_RouteHash *set);
uint32_t ZND_GetLoginRouteFromServerOld(ClientRecord *client, const char *server, ZND_RouteHash *set);
// Adds the routes of game 757 of a "games" document to set; 2 when the document has no such game.
uint32_t ZND_ParseLoginRouteDataOld(const char *xml, size_t len, ZND_RouteHash *set);
