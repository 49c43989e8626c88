// The daemon context: all long-lived state of zunarod, one instance, never freed.
// Only the event-loop thread touches it.
#pragma once
#include <cstdint>
#include <cstdio>
#include "cloud/node.h"
#include "config/client_record.h"
#include "core/log_limit.h"
#include "platform/bus.h"
#include "platform/loop.h"
#include "route/route_record.h"

#define ZND_RESOLVER_COUNT 5
#define ZND_CLOUD_SERVER_COUNT 3
#define ZND_ACC_MODE_COUNT 5

// Discovery's error lines that any datagram from the LAN can cause, each limited on its own.
struct ZND_NotifyLogLimits {
    ZND_LogLimit recvError;
    ZND_LogLimit tooLong;
    ZND_LogLimit notJson;
    ZND_LogLimit noCode;
    ZND_LogLimit notRequest;
};

struct ZND_Context {
    ZND_BusObject rpcObject;
    uint32_t curState;
    const char *publicResolvers[ZND_RESOLVER_COUNT + 1];     // ends with nullptr
    const char *cloudServers[ZND_CLOUD_SERVER_COUNT + 1];    // ends with nullptr
    uint32_t cloudServerLast;                                // index of the server that answered last
    uint32_t accDailTimerLimit[ZND_ACC_MODE_COUNT];
    uint16_t icmpSeq;
    ZND_Fd broadcastWatcher;
    ZND_NotifyLogLimits notifyLogLimits;
    int32_t wwanMissingTold;   // the missing WWAN interface was logged; again only once it was back
    ZND_BusBuf resultBuf;
    ZND_BusContext *ubusCtx;
    ZND_Timeout restoreTimer;
    int32_t lastEvent;
    int32_t debugFlag;
    FILE *keyLogFile;
    uint32_t accReconnCount;
    uint32_t accDailTimerCount;
    ZND_Timeout accTimer;
    uint32_t curAccMode;
    AccNodeServer nodes[ZND_NODE_TABLE_SIZE];
    ClientRecord client;
    ZND_BusBuf replyBuf;
    ZND_RouteHash trafficRoutes;
    ZND_RouteHash loginRoutes;
};

extern ZND_Context g_znd;

// Gives the fields that have an initial value that value and leaves the others as they are. The
// process runs it on the zeroed record before main.
void ZND_ContextInit();

ZND_RouteHash *ZND_GetLoginRouteSet();
ZND_RouteHash *ZND_GetTrafficRouteSet();
