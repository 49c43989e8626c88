// The record of one acceleration node offered to the logged-in account; the daemon context holds
// ten of them, best first after a fetch.
#pragma once
#include <cstdint>

#define ZND_NODE_TABLE_SIZE 10
// A node id that matches no node: the node list never takes it.
#define ZND_NODE_ID_NONE 0xFFFFFFFFu

struct AccNodeServer {
    uint32_t id;            // 0 marks an empty entry
    char cSvrIpv4[32];
    char cSvrName[32];
    char cOpenVpnDev[16];
    int8_t level;
    uint32_t ulOpenVpnPort;
    uint32_t protocal;
    int8_t update;
    uint16_t pingSeq;
    uint32_t ping;
};
