// One request line of the bus socket, through the wire parser, the request policy ("method",
// "params", "id") and the method table to the state machine of a daemon that has just started
// (the shell answers every command with a failure, so a Login goes nowhere). Whatever the request,
// the reply has the one layout clients rely on.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>
#include "control/rpc.h"
#include "control/state.h"
#include "core/context.h"
#include "core/paths.h"
#include "core/result.h"
#include "fuzz_env.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "platform/bus.h"
#include "platform/host/bus_wire.h"
#include "rpc_reply_check.h"

namespace {

// The eight string slots of an array: its first eight strings, in order; other members skipped.
void check_param_slots(const ZND_BusValue &arr, const std::string &where)
{
    static const ZND_BusPolicy slots_policy[ZND_PARAM_SLOTS] = {
        {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
        {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
    };
    const ZND_BusValue *slots[ZND_PARAM_SLOTS];
    ZND_FUZZ_CHECK(ZND_BusParseArray(slots_policy, ZND_PARAM_SLOTS, slots, &arr) == 0, where);
    size_t k = 0;
    for (const auto &m : arr.items) {
        if (m.type != ZND_BUS_STRING)
            continue;
        if (k == ZND_PARAM_SLOTS)
            break;
        ZND_FUZZ_CHECK(slots[k] == &m, where + ": slot " + std::to_string(k));
        k++;
    }
    for (; k < ZND_PARAM_SLOTS; k++)
        ZND_FUZZ_CHECK(slots[k] == nullptr, where + ": slot " + std::to_string(k) + " filled");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ZND_FuzzEnterSandbox();
    ZND_FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FakeShell *sh = [] {
        auto *s = new FakeShell;
        s->SetDefaultStatus(FakeShell::Exit(1));
        return s;
    }();
    ZND_BusWireRequest req;
    if (!ZND_BusWireParseRequest(reinterpret_cast<const char *>(data), size, &req) || req.op != "call" ||
        req.msg.type != ZND_BUS_TABLE)
        return 0;
    std::string line(reinterpret_cast<const char *>(data), size);
    for (const auto &m : req.msg.items)
        if (m.type == ZND_BUS_ARRAY)
            check_param_slots(m, line);

    ZND_ContextReset();
    ZND_RequestHandler(nullptr, &g_znd.rpcObject, nullptr, "rpc", &req.msg);
    ZND_FuzzCheckRpcReply(req.msg, g_znd.replyBuf.root, line);

    ZND_ContextReset();
    ZND_BusBufFree(&g_znd.replyBuf);
    sh->Clear();
    unlink(ZND_PATH_KEY_LOG);
    return 0;
}
