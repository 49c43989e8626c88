// Datagrams on the raw ICMP socket of the node probe: whatever arrives (IP header included) is
// read within its length, and is taken as one of our echo replies exactly when it is one. An echo
// request the probe builds, answered, reads back with its sequence number and send time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/time.h>
#include <vector>
#include "cloud/icmp_echo.h"
#include "fuzz_env.h"

namespace {

// A field in the host's byte order, as the probe writes and reads it.
template <typename T> T host(const uint8_t *p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

std::string hex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; i++) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

// The verdict from the datagram's layout alone.
ZND_IcmpVerdict expected(const uint8_t *pkt, size_t len, uint16_t ident)
{
    if (len < 20)
        return ZND_ICMP_DISCARD;
    size_t ihl = (size_t)(pkt[0] & 0x0F) * 4;
    if (ihl < 20 || len < ihl + 8 || pkt[ihl] == ZND_ICMP_REDIRECT)
        return ZND_ICMP_DISCARD;
    if (pkt[ihl] != ZND_ICMP_ECHO_REPLY || host<uint16_t>(pkt + ihl + 4) != ident)
        return ZND_ICMP_FOREIGN;
    return len < ihl + 16 ? ZND_ICMP_DISCARD : ZND_ICMP_MATCH;
}

void read_datagram(const uint8_t *data, size_t size)
{
    if (size < 2)
        return;
    uint16_t ident = host<uint16_t>(data);
    // The datagram alone in a buffer of its own size, so that a read past it is seen.
    std::vector<uint8_t> pkt(data + 2, data + size);
    uint16_t seq = 0;
    struct timeval sent = {};
    ZND_IcmpVerdict v = ZND_IcmpReadReply(pkt.data(), pkt.size(), ident, &seq, &sent);
    ZND_FUZZ_CHECK(v == expected(pkt.data(), pkt.size(), ident), hex(data, size));
    if (v == ZND_ICMP_MATCH) {
        size_t ihl = (size_t)(pkt[0] & 0x0F) * 4;
        ZND_FUZZ_CHECK(seq == host<uint16_t>(&pkt[ihl + 6]) && (uint32_t)sent.tv_sec == host<uint32_t>(&pkt[ihl + 8]) &&
                           (uint32_t)sent.tv_usec == host<uint32_t>(&pkt[ihl + 12]),
                       hex(data, size));
        struct timeval now = {};
        gettimeofday(&now, nullptr);
        // However odd the echoed send time, a time is only taken when the reply came after it.
        uint32_t ms = 0;
        if (ZND_IcmpRoundTripMs(&now, &sent, &ms))
            ZND_FUZZ_CHECK(!timercmp(&now, &sent, <) && ms != UINT32_MAX, hex(data, size));
    }
}

// A request built from the input's numbers, answered by a peer with an IP header of ihl words.
void answer_own_request(const uint8_t *data, size_t size)
{
    if (size < 14)
        return;
    uint16_t ident = host<uint16_t>(data), seq = host<uint16_t>(data + 2);
    struct timeval sent = {(time_t)host<uint32_t>(data + 4), (suseconds_t)(host<uint32_t>(data + 8) % 1000000)};
    size_t ihl = 4 * (5 + data[12] % 11);
    uint8_t request[ZND_ICMP_ECHO_SIZE];
    ZND_IcmpBuildEchoRequest(request, ident, seq, &sent);
    ZND_FUZZ_CHECK(ZND_IcmpChecksum(request, sizeof request) == 0, hex(request, sizeof request));

    std::vector<uint8_t> reply(ihl + sizeof request, 0);
    reply[0] = (uint8_t)(0x40 | ihl / 4);
    memcpy(&reply[ihl], request, sizeof request);
    reply[ihl] = ZND_ICMP_ECHO_REPLY;
    uint16_t got_seq = 0;
    struct timeval got_sent = {};
    ZND_FUZZ_CHECK(ZND_IcmpReadReply(reply.data(), reply.size(), ident, &got_seq, &got_sent) == ZND_ICMP_MATCH &&
                       got_seq == seq && (uint32_t)got_sent.tv_sec == (uint32_t)sent.tv_sec &&
                       got_sent.tv_usec == sent.tv_usec,
                   hex(reply.data(), reply.size()));
    ZND_FUZZ_CHECK(ZND_IcmpReadReply(reply.data(), reply.size(), (uint16_t)(ident + 1), &got_seq, &got_sent) ==
                       ZND_ICMP_FOREIGN,
                   hex(reply.data(), reply.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    read_datagram(data, size);
    answer_own_request(data, size);
    return 0;
}
