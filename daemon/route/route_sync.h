// Keeps the kernel tables `login` and `traffic` in line with the daemon's route sets, and loads
// the standing sets from the local list files.
#pragma once
#include <cstdint>
#include "config/client_record.h"
#include "route/route_hash.h"

// Loads both local lists into the login and traffic route sets; a list that cannot be read ends
// the process with status 1 after its error line.
void ZND_LocalRouteTabInit();
void ZND_LocalRouteTabDeinit();

// Every route of the set into its table: 0, 60 (no default route), 57 (no tunnel device), 54, 55
// or 58. Login routes go via the default gateway, or through the default route's device when it
// has no gateway.
uint32_t ZND_AddAllLoginRouteToKernel(ClientRecord *client, ZND_RouteHash *set);
uint32_t ZND_AddAllTrafficRouteToKernel(ClientRecord *client, ZND_RouteHash *set);
// Flush a table: 0, or 56 / 59 when the shell cannot be started.
uint32_t ZND_DelAllLoginRouteFromKernel();
uint32_t ZND_DelAllTrafficRouteFromKernel();
// Flush both, login first: 0, or the first failure.
uint32_t ZND_DelAllRouteFromKernel();
// Routes only the new set has are added (0, 60, 54, 55); routes only the current set has are
// deleted (0, 60, 54, 56). A route is told apart by what the kernel keys on (network and prefix
// length), so an entry written differently from one of the other set is neither added nor deleted.
uint32_t ZND_AddNewLoginRouteToKernel(ZND_RouteHash *newSet, ZND_RouteHash *curSet);
uint32_t ZND_DelNotUsedLoginRouteFromKernel(ZND_RouteHash *newSet, ZND_RouteHash *curSet);
