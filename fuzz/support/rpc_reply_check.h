// The layout every reply of the "rpc" method has, whatever the request: "result" or "error"
// (code, message, data) then "id"; the fields end with the state name of the daemon; the id is
// the request's; a request without a known method name is answered with -32601 (or -32700 when it
// is empty). Request and reply are blobmsg messages as the bus hands them over: the members of
// the blob_attr, without a name of its own.
#pragma once
#include <string>
#include "platform/bus.h"

void ZND_FuzzCheckRpcReply(ZND_BusMsg *msg, ZND_BusMsg *reply, const std::string &request);
