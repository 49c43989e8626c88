// Checks of a route set filled from outside input: every entry a whole, terminated address and
// mask, in the bucket of its address, linked both ways, found by a look-up, never twice. Returns
// the number of entries.
#pragma once
#include <cstddef>
#include <string>
#include "route/route_hash.h"

size_t ZND_FuzzCheckRouteSet(ZND_RouteHash *set, const std::string &input);

// The one route set of a target: made on first use, to be cleared after each run so that it is
// ready for the next one.
ZND_RouteHash *ZND_FuzzRouteSet();
