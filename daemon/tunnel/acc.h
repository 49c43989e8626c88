// Dialing, automatic mode, route installation, the online check and supervision.
#pragma once
#include <cstdint>
#include "config/client_record.h"
#include "platform/bus.h"
#include "platform/loop.h"

uint32_t ZND_AccOkTodo();
uint32_t ZND_AccUp(ClientRecord *client, ZND_BusRequest *req);
uint32_t ZND_AccAutoUp();
void ZND_AccStateCheckTimeHandler(ZND_Timeout *t);
void ZND_AccAtuoUpCheckTimeHandler(ZND_Timeout *t);
uint32_t ZND_AccStatCheck(ClientRecord *client, void *unused);
void ZND_AccReconnTimeHandler(ZND_Timeout *t);
