// LAN discovery: replies on UDP port 7167 and event notifications to port 7168.
#pragma once
#include <cstddef>
#include <cstdint>
#include "platform/loop.h"

enum {
    ZND_NOTIFY_ACC_STOPPED = 0,
    ZND_NOTIFY_ACC_SUCCESS = 1,
    ZND_NOTIFY_ACC_FAILED = 2,
    ZND_NOTIFY_WAN_DROPPED = 3,
};

uint32_t ZND_NotifyListenInit();
void Notify_Broadcast_cb(ZND_Fd *fd, unsigned int events);
uint32_t ZND_RequestMsgParse(const char *text);
uint32_t SendBroadcast(const char *addr, const char *data, size_t len);
uint32_t ZND_NotifyBroadcast(int code);
