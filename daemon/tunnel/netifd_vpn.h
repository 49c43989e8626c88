// L2TP and PPTP drivers: both dial through the one netifd interface `vpn`.
#pragma once
#include <cstdint>
#include "cloud/node.h"
#include "config/client_record.h"

uint32_t ZNACC_L2tpUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_L2tpDown();
uint32_t ZNACC_L2tpState();
uint32_t ZNACC_PptpUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_PptpDown();
uint32_t ZNACC_PptpState();
