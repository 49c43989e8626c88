// Actions of the state machine, the request parsers and the reply builders.
#pragma once
#include <cstdint>
#include "config/client_record.h"
#include "control/state.h"

uint32_t RPC_ParseLoginParams(ClientRecord *client, ZND_Params params);
uint32_t RPC_ParseAccStartParams(ClientRecord *client, ZND_Params params);
void ZND_BuildLoginResponse(uint32_t code, ZND_BusBuf *out);
void ZND_BuildErrorResponse(int32_t event, uint32_t code, ZND_BusBuf *out);

uint32_t ZND_ActionLogin(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionLogout(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccStart(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccStop(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccRestart(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccSuccess(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionAccFail(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionWanAbnormalDisconnect(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionForceOffline(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionNetDevChange(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionGetVANTOState(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionGetAccState(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionGetNodeList(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionFlushNodeList(ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_ActionGetAccResult(ZND_Params params, ZND_BusBuf *out);
