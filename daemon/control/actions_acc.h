// Acceleration actions: start, stop, restart, the outcomes of dialing and supervision, and
// network device changes.
#pragma once
#include <cstdint>
#include "control/state.h"

uint32_t ZND_ActionAccStart(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccStop(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccRestart(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccSuccess(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccFail(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionWanAbnormalDisconnect(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionNetDevChange(ZND_Params params, ZND_BusBuf *out);
// A net device change in LOGIN_OK: taken only while supervision waits for a lost WAN.
uint32_t ZND_ActionNetDevChangeAfterLoss(ZND_Params params, ZND_BusBuf *out);
