// The client record and node table at start and end of the daemon.
#pragma once

void ZND_ClientInit();
void ZND_ClientDeinit();
