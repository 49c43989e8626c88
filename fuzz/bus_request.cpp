// The argument of a call as a client types it: JSON text, made into a blobmsg message by libubox's
// own converter, as the ubus tool does, then through the request policy ("method", "params", "id")
// and the method table to the state machine of a daemon that has just started (the shell answers
// every command with a failure, so a Login goes nowhere). Whatever the request, the reply has the
// one layout clients rely on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>
#include "control/rpc.h"
#include "control/state.h"
#include "core/context.h"
#include "core/paths.h"
#include "fuzz_env.h"
#include "harness/bus_json.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "platform/bus.h"
#include "rpc_reply_check.h"

namespace {

// The eight string slots of an array: its first eight strings, in order; other members skipped.
void check_param_slots(ZND_BusMsg *arr, const std::string &where)
{
    static const ZND_BusPolicy slots_policy[ZND_PARAM_SLOTS] = {
        {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
        {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
    };
    ZND_BusMsg *slots[ZND_PARAM_SLOTS];
    ZND_FUZZ_CHECK(ZND_BusParseArray(slots_policy, ZND_PARAM_SLOTS, slots, arr) == 0, where);
    size_t k = 0;
    ZND_BusMsg *m;
    size_t rem;
    blobmsg_for_each_attr(m, arr, rem) {
        if (blobmsg_type(m) != ZND_BUS_STRING)
            continue;
        if (k == ZND_PARAM_SLOTS)
            break;
        ZND_FUZZ_CHECK(slots[k] == m, where + ": slot " + std::to_string(k));
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
    // A command-line argument: text up to the first NUL. What is not a JSON object is refused by
    // the client before anything is sent.
    std::string text = ZND_FuzzText(data, size);
    ZND_BusBuf req;
    if (!ZND_TestBusFromJson(&req, text)) {
        ZND_BusBufFree(&req);
        return 0;
    }
    ZND_BusMsg *msg = ZND_BusBufMsg(&req);
    ZND_BusMsg *m;
    size_t rem;
    blob_for_each_attr(m, msg, rem)
        if (blobmsg_type(m) == ZND_BUS_ARRAY)
            check_param_slots(m, text);

    ZND_ContextReset();
    ZND_RequestHandler(nullptr, &g_znd.rpcObject, nullptr, "rpc", msg);
    ZND_FuzzCheckRpcReply(msg, ZND_BusBufMsg(&g_znd.replyBuf), "request " + text);

    // The context forgets its buffers when it is reset: they are freed first.
    ZND_BusBufFree(&g_znd.replyBuf);
    ZND_BusBufFree(&req);
    ZND_ContextReset();
    sh->Clear();
    unlink(ZND_PATH_KEY_LOG);
    return 0;
}
