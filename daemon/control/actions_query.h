// Status queries: the account and acceleration status, the node list and the acc result.
#pragma once
#include <cstdint>
#include "control/state.h"

uint32_t ZND_ActionGetVANTOState(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionGetAccState(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionGetNodeList(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionFlushNodeList(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionGetAccResult(ZND_Params params, ZND_BusBuf *out);
