// Parameters of Login and AccStart requests into the client record; the reply builders that the
// actions share.
#pragma once
#include <cstdint>
#include "config/client_record.h"
#include "control/state.h"

uint32_t RPC_ParseLoginParams(ClientRecord *client, ZND_Params params);
uint32_t RPC_ParseAccStartParams(ClientRecord *client, ZND_Params params);
void ZND_BuildLoginResponse(uint32_t code, ZND_BusBuf *out);
void ZND_BuildErrorResponse(int32_t event, uint32_t code, ZND_BusBuf *out);
