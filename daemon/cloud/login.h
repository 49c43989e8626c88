// Login to the cloud service and the account state it reports; forcing another device offline.
#pragma once
#include <cstdint>
#include "config/client_record.h"
#include "platform/bus.h"

// Logs the user of the client record in on the first cloud server that accepts it.
uint32_t ZND_UserLogin(ClientRecord *client, ZND_BusRequest *req);
// Fills the account fields of the client record from a "/api/softlogin" reply.
uint32_t ZND_ParseUserLoginDataOld(ClientRecord *client, const char *text);
// Asks the cloud service to drop the account's tunnel on another device.
uint32_t ZND_UserForceOfflineAccTunnel(ClientRecord *client, ZND_BusRequest *req);
