// Timers of the daemon context.
#pragma once
#include "platform/loop.h"

// Clears the timer record, stores the handler and arms it; 1 when timer or handler is missing.
int ZND_SetTimer(ZND_Timeout *timer, ZND_TimeoutHandler handler, int ms);
// ZND_SetTimer on accTimer, the one timer shared by dialing, automatic mode and supervision.
int ZND_SetAccTimer(ZND_TimeoutHandler handler, int ms);
