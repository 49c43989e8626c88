#include "harness/bus_json.h"

#include <cstdlib>

extern "C" {
#include <libubox/blobmsg_json.h>
}

std::string ZND_TestBusJson(ZND_BusMsg *msg)
{
    if (!msg)
        return "";
    char *text = blobmsg_format_json(msg, true);
    std::string out = text ? text : "";
    free(text);
    return out;
}

bool ZND_TestBusFromJson(ZND_BusBuf *buf, const std::string &json)
{
    ZND_BusBufInit(buf);
    return blobmsg_add_json_from_string(&buf->buf, json.c_str());
}
