// LAN event notifications: JSON datagrams to port 7168 of the router's networks.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
    ZND_NOTIFY_ACC_STOPPED = 0,
    ZND_NOTIFY_ACC_SUCCESS = 1,
    ZND_NOTIFY_ACC_FAILED = 2,
    ZND_NOTIFY_WAN_DROPPED = 3,
};

uint32_t SendBroadcast(const char *addr, const char *data, size_t len);
uint32_t ZND_NotifyBroadcast(int code);
