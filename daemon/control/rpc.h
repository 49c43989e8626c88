// The daemon's bus object "zunaro" with its one method "rpc".
#pragma once
#include "platform/bus.h"

void ZND_UbusInit();
void ZND_UbusDeinit();
int ZND_RequestHandler(ZND_BusContext *ctx, ZND_BusObject *obj, ZND_BusRequest *req, const char *method,
                       ZND_BusMsg *msg);
