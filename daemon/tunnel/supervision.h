// Supervision of a working tunnel on accTimer: the WAN first, then the tunnel, restarted up to the
// mode's limit.
#pragma once
#include "platform/loop.h"

void ZND_AccReconnTimeHandler(ZND_Timeout *t);
