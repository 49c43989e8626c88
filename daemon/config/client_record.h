// The one client record: credentials, device identity, acceleration settings, running tunnel
// and the account state reported by the cloud service.
#pragma once
#include <cstdint>

#define ZND_UNAME_MAX 64
#define ZND_UPASS_MAX 256
#define ZND_NODENAME_MAX 64
#define ZND_ACCTUN_MAX 16
#define ZND_ACCOUNT_TEXT_MAX 32
#define ZND_GAME_ID 757

struct ClientRecord {
    char uname[ZND_UNAME_MAX + 1];
    char upass[ZND_UPASS_MAX + 1];
    uint32_t gid;
    char mad[20];
    uint32_t node;
    uint32_t mode;
    uint32_t reconn;
    char nodename[ZND_NODENAME_MAX + 1];
    char accTun[ZND_ACCTUN_MAX + 1];
    uint8_t ucVipType;
    uint8_t ucPayState;
    char ucExprtData[ZND_ACCOUNT_TEXT_MAX + 1];
    char ucSvrCurTime[ZND_ACCOUNT_TEXT_MAX + 1];
    char ucPbNetIp[ZND_ACCOUNT_TEXT_MAX + 1];
    uint8_t ucAccTunState;
};
