#include "rpc_reply_check.h"

#include <cstdint>
#include <cstring>
#include <vector>
#include "control/state.h"
#include "core/context.h"
#include "core/result.h"
#include "fuzz_env.h"
#include "harness/bus_json.h"

namespace {

const char *const kMethods[] = {"Login",       "Logout",       "AccStart",    "AccStop",      "AccRestart",
                                "GetStatus",   "GetNodeList",  "GetPingTime", "FlushNodeList", "GetAccResult",
                                "GetAccState", "ForceOffLine", "NetDevChange", "DebugOn",     "DebugOff"};

bool is_method(const char *name)
{
    for (const char *m : kMethods)
        if (strcmp(name, m) == 0)
            return true;
    return false;
}

// The members of a message (its blob data) or of a table or array (its blobmsg data).
std::vector<ZND_BusMsg *> members_of_message(ZND_BusMsg *msg)
{
    std::vector<ZND_BusMsg *> out;
    ZND_BusMsg *cur;
    size_t rem;
    blob_for_each_attr(cur, msg, rem)
        out.push_back(cur);
    return out;
}

std::vector<ZND_BusMsg *> members_of_container(ZND_BusMsg *c)
{
    std::vector<ZND_BusMsg *> out;
    ZND_BusMsg *cur;
    size_t rem;
    blobmsg_for_each_attr(cur, c, rem)
        out.push_back(cur);
    return out;
}

bool is(ZND_BusMsg *m, const char *name, ZND_BusType type)
{
    return blob_is_extended(m) && blobmsg_type(m) == type && strcmp(blobmsg_name(m), name) == 0;
}

// Members named name with the given type.
std::vector<ZND_BusMsg *> named(const std::vector<ZND_BusMsg *> &ms, const char *name, ZND_BusType type)
{
    std::vector<ZND_BusMsg *> out;
    for (ZND_BusMsg *m : ms)
        if (is(m, name, type))
            out.push_back(m);
    return out;
}

ZND_BusMsg *member(const std::vector<ZND_BusMsg *> &ms, size_t i, const char *name, ZND_BusType type)
{
    return i < ms.size() && is(ms[i], name, type) ? ms[i] : nullptr;
}

} // namespace

void ZND_FuzzCheckRpcReply(ZND_BusMsg *msg, ZND_BusMsg *reply, const std::string &request)
{
    ZND_FUZZ_CHECK(reply != nullptr, "no reply\n" + request);
    // Printed only for a property that does not hold.
    auto line = [&] { return "reply " + ZND_TestBusJson(reply) + "\n" + request; };
    std::vector<ZND_BusMsg *> top = members_of_message(reply);
    ZND_BusMsg *result = member(top, 0, "result", ZND_BUS_TABLE);
    ZND_BusMsg *error = member(top, 0, "error", ZND_BUS_TABLE);
    ZND_BusMsg *id = member(top, 1, "id", ZND_BUS_INT32);
    ZND_FUZZ_CHECK(top.size() == 2 && (result || error) && id, line());

    // "id" is one of the request's 32-bit "id" members, or 0 without one.
    std::vector<ZND_BusMsg *> asked = members_of_message(msg);
    std::vector<ZND_BusMsg *> ids = named(asked, "id", ZND_BUS_INT32);
    int32_t got = (int32_t)blobmsg_get_u32(id);
    bool id_ok = ids.empty() && got == 0;
    for (ZND_BusMsg *m : ids)
        id_ok = id_ok || (int32_t)blobmsg_get_u32(m) == got;
    ZND_FUZZ_CHECK(id_ok, "reply id " + std::to_string(got) + "\n" + line());

    ZND_BusMsg *fields = result;
    if (error) {
        std::vector<ZND_BusMsg *> parts = members_of_container(error);
        ZND_BusMsg *code = member(parts, 0, "code", ZND_BUS_INT32);
        ZND_BusMsg *text = member(parts, 1, "message", ZND_BUS_STRING);
        fields = member(parts, 2, "data", ZND_BUS_TABLE);
        ZND_FUZZ_CHECK(parts.size() == 3 && code && text && fields, line());
        int32_t num = (int32_t)blobmsg_get_u32(code);
        ZND_FUZZ_CHECK(strcmp(blobmsg_get_string(text), ZND_GetErrorText((uint32_t)num)) == 0, line());
        // No method string, or none of them in the method table: -32601; an empty message does not
        // parse at all (-32700). A method name is a C string: it ends at its first NUL.
        bool known = false;
        for (ZND_BusMsg *m : named(asked, "method", ZND_BUS_STRING))
            known = known || is_method(blobmsg_get_string(m));
        ZND_FUZZ_CHECK(known || num == -32601 || (asked.empty() && num == -32700),
                       "code " + std::to_string(num) + "\n" + line());
    } else {
        ZND_FUZZ_CHECK(!named(asked, "method", ZND_BUS_STRING).empty(), line());
    }
    // The fields end with the state name of the daemon after the request.
    std::vector<ZND_BusMsg *> values = members_of_container(fields);
    ZND_FUZZ_CHECK(!values.empty(), line());
    ZND_BusMsg *status = values.back();
    ZND_FUZZ_CHECK(is(status, "status", ZND_BUS_STRING) &&
                       strcmp(blobmsg_get_string(status), ZND_GetStateName(ZND_GetState())) == 0,
                   line());
    ZND_FUZZ_CHECK(g_znd.resultBuf.buf.buf == nullptr, "result buffer kept after the request\n" + line());
}
