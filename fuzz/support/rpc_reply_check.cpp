#include "rpc_reply_check.h"

#include <cstdint>
#include <cstring>
#include <vector>
#include "control/state.h"
#include "core/context.h"
#include "core/result.h"
#include "fuzz_env.h"

namespace {

const char *const kMethods[] = {"Login",       "Logout",       "AccStart",    "AccStop",      "AccRestart",
                                "GetStatus",   "GetNodeList",  "GetPingTime", "FlushNodeList", "GetAccResult",
                                "GetAccState", "ForceOffLine", "NetDevChange", "DebugOn",     "DebugOff"};

// A method name as the daemon reads it: a C string, so up to its first NUL, as on the router's
// bus, whose strings end there.
bool is_method(const std::string &name)
{
    for (const char *m : kMethods)
        if (strcmp(name.c_str(), m) == 0)
            return true;
    return false;
}

// Members of msg named name with the given type.
std::vector<const ZND_BusValue *> members(const ZND_BusValue &msg, const char *name, ZND_BusType type)
{
    std::vector<const ZND_BusValue *> out;
    for (const auto &m : msg.items)
        if (m.name == name && m.type == type)
            out.push_back(&m);
    return out;
}

const ZND_BusValue *member(const ZND_BusValue &table, size_t i, const char *name, ZND_BusType type)
{
    if (i >= table.items.size())
        return nullptr;
    const ZND_BusValue &m = table.items[i];
    return m.name == name && m.type == type ? &m : nullptr;
}

} // namespace

void ZND_FuzzCheckRpcReply(const ZND_BusValue &msg, const ZND_BusValue &reply, const std::string &line)
{
    const ZND_BusValue *result = member(reply, 0, "result", ZND_BUS_TABLE);
    const ZND_BusValue *error = member(reply, 0, "error", ZND_BUS_TABLE);
    const ZND_BusValue *id = member(reply, 1, "id", ZND_BUS_INT32);
    ZND_FUZZ_CHECK(reply.type == ZND_BUS_TABLE && reply.items.size() == 2 && (result || error) && id, line);

    // "id" is one of the request's 32-bit "id" members, or 0 without one.
    std::vector<const ZND_BusValue *> ids = members(msg, "id", ZND_BUS_INT32);
    bool id_ok = ids.empty() && id->num == 0;
    for (const ZND_BusValue *m : ids)
        id_ok = id_ok || m->num == id->num;
    ZND_FUZZ_CHECK(id_ok, "reply id " + std::to_string(id->num) + "\n" + line);

    const ZND_BusValue *fields = result;
    if (error) {
        const ZND_BusValue *code = member(*error, 0, "code", ZND_BUS_INT32);
        const ZND_BusValue *text = member(*error, 1, "message", ZND_BUS_STRING);
        fields = member(*error, 2, "data", ZND_BUS_TABLE);
        ZND_FUZZ_CHECK(error->items.size() == 3 && code && text && fields, line);
        ZND_FUZZ_CHECK(text->str == ZND_GetErrorText((uint32_t)code->num), line);
        // No method string, or none of them in the method table: -32601; an empty message does not
        // parse at all on the router's bus (-32700).
        bool known = false;
        for (const ZND_BusValue *m : members(msg, "method", ZND_BUS_STRING))
            known = known || is_method(m->str);
        ZND_FUZZ_CHECK(known || code->num == -32601 || (msg.items.empty() && code->num == -32700),
                       "code " + std::to_string(code->num) + "\n" + line);
    } else {
        ZND_FUZZ_CHECK(!members(msg, "method", ZND_BUS_STRING).empty(), line);
    }
    // The fields end with the state name of the daemon after the request.
    ZND_FUZZ_CHECK(!fields->items.empty(), line);
    const ZND_BusValue &status = fields->items.back();
    ZND_FUZZ_CHECK(status.name == "status" && status.type == ZND_BUS_STRING &&
                       status.str == ZND_GetStateName(ZND_GetState()),
                   line);
    ZND_FUZZ_CHECK(g_znd.resultBuf.root.items.empty(), "result table kept after the request\n" + line);
}

