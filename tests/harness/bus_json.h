// Bus messages of the tests as JSON text, through libubox's own converters.
#pragma once
#include <string>
#include "platform/bus.h"

// The message in one line, as blobmsg_format_json prints a table ("" for nullptr).
std::string ZND_TestBusJson(ZND_BusMsg *msg);

// A message built from JSON text as the ubus tool builds its argument; false when the text is not
// a JSON object.
bool ZND_TestBusFromJson(ZND_BusBuf *buf, const std::string &json);
