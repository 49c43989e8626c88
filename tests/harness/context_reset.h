// Puts the daemon context back to its state at process start, between test cases, with the
// tunnel's outcomes going to the state machine as in the daemon.
#pragma once

void ZND_ContextReset();
