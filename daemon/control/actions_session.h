// Session actions: login, logout, force offline, and the login route update from the cloud.
#pragma once
#include <cstdint>
#include "control/state.h"

uint32_t ZND_ActionLogin(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionLogout(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionForceOffline(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_LoginRouteUpdateFromServer();
