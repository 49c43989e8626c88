// Helpers over the mode table for the dialing and supervision code.
#pragma once
#include <cstdint>
#include "tunnel/tunnel.h"

// The row of mode, nullptr for a mode of 5 or more.
const ZNACC_ModeOps *ZND_AccModeRow(uint32_t mode);
// The name text of mode, "unknown" for a mode of 5 or more.
const char *ZND_AccModeName(uint32_t mode);
// The row's state operation says the tunnel is active (false without a row or an operation).
bool ZND_AccModeActive(uint32_t mode);
// The dial-check and restart limit of mode, 0 for a mode of 5 or more.
uint32_t ZND_AccModeLimit(uint32_t mode);
