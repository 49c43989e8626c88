// Puts the daemon context back to its state at process start, between test cases.
#pragma once

void ZND_ContextReset();
