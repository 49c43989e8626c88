// Restore of the state before an abnormal exit, one second after start.
#pragma once
#include "platform/loop.h"

void ZND_AbnormalRestoreTimerHandler(ZND_Timeout *t);
void ZND_RestoreFromAbnormalExit();
