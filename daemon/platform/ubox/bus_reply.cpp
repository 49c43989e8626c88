// Reading a reply tree of the bus client.
#include "platform/bus_client.h"

#include <cstring>

const ZND_BusReplyValue *ZND_BusReplyValue::Find(const char *member) const
{
    const ZND_BusReplyValue *found = nullptr;
    for (const auto &m : members)
        if (m.name == member)
            found = &m;
    return found;
}

std::string ZND_BusReplyValue::Text(const char *member) const
{
    const ZND_BusReplyValue *m = Find(member);
    return m && m->kind == STRING ? m->text : std::string();
}
