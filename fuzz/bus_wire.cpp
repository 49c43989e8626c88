// The host bus wire form: whatever a client writes to the bus socket as one request line, and what
// a client reads back as an answer. A line that parses is written again and must parse to the same
// request or answer, on one line.
#include <cstddef>
#include <cstdint>
#include <string>
#include "fuzz_env.h"
#include "platform/bus_value_util.h"
#include "platform/host/bus_wire.h"

namespace {

// The line without its newline; it must be exactly one line.
std::string body_of(const std::string &line)
{
    ZND_FUZZ_CHECK(!line.empty() && line.find('\n') == line.size() - 1, line);
    return line.substr(0, line.size() - 1);
}

void request_round_trip(const uint8_t *data, size_t size)
{
    ZND_BusWireRequest req;
    if (!ZND_BusWireParseRequest(reinterpret_cast<const char *>(data), size, &req))
        return;
    // Object and method are names: the writer takes them as C strings.
    std::string line = req.op == "call"
                           ? ZND_BusWireCallLine(req.object.c_str(), req.method.c_str(), req.msg)
                           : ZND_BusWireListLine();
    std::string body = body_of(line);
    ZND_BusWireRequest back;
    ZND_FUZZ_CHECK(ZND_BusWireParseRequest(body.data(), body.size(), &back), line);
    ZND_FUZZ_CHECK(back.op == (req.op == "call" ? "call" : "list"), line);
    ZND_FUZZ_CHECK(back.object == req.object.c_str() && back.method == req.method.c_str(), line);
    std::string diff = BusDiff(back.msg, req.msg);
    ZND_FUZZ_CHECK(diff.empty(), diff + "\n" + line);
}

void answer_round_trip(const uint8_t *data, size_t size)
{
    int status = 0;
    bool has_reply = false;
    ZND_BusValue reply;
    if (!ZND_BusWireParseAnswer(reinterpret_cast<const char *>(data), size, &status, &reply, &has_reply))
        return;
    std::string line = ZND_BusWireAnswerLine(status, has_reply ? &reply : nullptr);
    std::string body = body_of(line);
    int status2 = 0;
    bool has2 = false;
    ZND_BusValue back;
    ZND_FUZZ_CHECK(ZND_BusWireParseAnswer(body.data(), body.size(), &status2, &back, &has2), line);
    ZND_FUZZ_CHECK(status2 == status && has2 == has_reply, line);
    std::string diff = BusDiff(back, reply);
    ZND_FUZZ_CHECK(diff.empty(), diff + "\n" + line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    request_round_trip(data, size);
    answer_round_trip(data, size);
    return 0;
}
