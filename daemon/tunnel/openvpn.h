// OpenVPN driver: the client section `openvpn`.`zunaro`, the credentials file and the init script.
#pragma once
#include <cstdint>
#include "cloud/node.h"
#include "config/client_record.h"

uint32_t ZNACC_OpenvpnUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_OpenvpnDown();
uint32_t ZNACC_OpenvpnState();
