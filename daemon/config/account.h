// Loaders of the client record from the userinfo package, and the device identity.
#pragma once
#include <cstddef>
#include <cstdint>
#include "config/client_record.h"

uint32_t CFGI_ReadUserAccountInfo(ClientRecord *client);
uint32_t CFGI_ReadUserAccSetting(ClientRecord *client);
// MAC address of an interface as hexadecimal digits without separators, cut to fit out.
uint32_t ZND_GetMacByIfName(const char *ifname, char *out, size_t size);
