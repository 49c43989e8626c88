// Dialing and automatic mode, the route installation of a tunnel that carries traffic, the check
// that finds one already online, and the outcomes reported to the control plane.
#pragma once
#include <cstdint>
#include "config/client_record.h"
#include "platform/bus.h"
#include "platform/loop.h"

// What dialing and supervision report to the control plane. The control plane registers its
// handler at start-up; the tunnel code never changes the control state itself.
enum ZND_AccOutcome {
    ZND_ACC_DIALED,      // the tunnel carries traffic and its routes are installed
    ZND_ACC_FAILED,      // dialing gave up, or the routes of the new tunnel failed
    ZND_ACC_WAN_LOST,    // supervision found the WAN unreachable (at every such check)
    ZND_ACC_REDIALING,   // supervision starts a dropped tunnel again
    ZND_ACC_ABANDONED,   // supervision gave up on a tunnel it cannot start again
};
typedef void (*ZND_AccReportFn)(ZND_AccOutcome outcome);
void ZND_AccSetReport(ZND_AccReportFn fn);
// Hands outcome to the registered handler, which deals with it before this returns.
void ZND_AccReport(ZND_AccOutcome outcome);
// Ends a dial or a supervision that has no valid mode to go on with: the key log entry, curAccMode
// back to automatic, then the outcome.
void ZND_AccGiveUp(const char *key_log, ZND_AccOutcome outcome);

uint32_t ZND_AccOkTodo();
uint32_t ZND_AccUp(ClientRecord *client, ZND_BusRequest *req);
uint32_t ZND_AccAutoUp();
void ZND_AccStateCheckTimeHandler(ZND_Timeout *t);
void ZND_AccAtuoUpCheckTimeHandler(ZND_Timeout *t);
uint32_t ZND_AccStatCheck(ClientRecord *client, void *unused);
