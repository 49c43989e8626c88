// LAN discovery: requests on UDP port 7167, replies to port 7168 of the requester.
#pragma once
#include <cstdint>
#include "platform/loop.h"

uint32_t ZND_NotifyListenInit();
void Notify_Broadcast_cb(ZND_Fd *fd, unsigned int events);
uint32_t ZND_RequestMsgParse(const char *text);
