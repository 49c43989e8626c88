// Tunnel kinds, their drivers and the stop of acceleration.
#pragma once
#include <cstdint>
#include "cloud/node.h"
#include "config/client_record.h"

enum : uint32_t {
    ZN_ACC_AUTO = 0,
    ZN_ACC_OPENVPN = 1,
    ZN_ACC_IPSEC = 2,
    ZN_ACC_L2TP = 3,
    ZN_ACC_PPTP = 4,
    ZN_ACC_MODE_MAX = 5,
};

struct ZNACC_ModeOps {
    uint8_t mode;
    uint32_t (*up)(ClientRecord *client, AccNodeServer *node);
    uint32_t (*down)();
    uint32_t (*state)();
    const char *name;
};

extern const ZNACC_ModeOps ZNACC_ModeTable[ZN_ACC_MODE_MAX];

uint32_t ZNACC_OpenvpnUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_OpenvpnDown();
uint32_t ZNACC_OpenvpnState();
uint32_t ZNACC_IpsecUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_IpsecDown();
uint32_t ZNACC_IpsecState();
uint32_t ZNACC_L2tpUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_L2tpDown();
uint32_t ZNACC_L2tpState();
uint32_t ZNACC_PptpUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_PptpDown();
uint32_t ZNACC_PptpState();

const char *ZND_GetAccTunName(uint32_t index);
uint32_t ZND_GetAccMode();
void ZND_ResetAccDailTimerCount();
void ZND_ResetAccReconnCount();

uint32_t ZND_AccDown(ClientRecord *client);
uint32_t ZND_UserLogout(ClientRecord *client);
