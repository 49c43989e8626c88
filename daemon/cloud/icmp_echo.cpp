// Echo request layout and reply reading. The reply is checked against its own length before any
// field is read: a raw socket hands over whatever arrives.
#include "cloud/icmp_echo.h"

#include <cstring>
#include <sys/time.h>

#define ZND_IP_HEADER_MIN 20

namespace {

void put16(uint8_t *p, uint16_t v) { memcpy(p, &v, sizeof v); }
void put32(uint8_t *p, uint32_t v) { memcpy(p, &v, sizeof v); }
uint16_t get16(const uint8_t *p)
{
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
uint32_t get32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

uint16_t ZND_IcmpChecksum(const void *data, size_t len)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    uint32_t sum = 0;
    for (; len > 1; len -= 2, p += 2)
        sum += get16(p);
    if (len == 1) {
        uint8_t last[2] = {*p, 0};
        sum += get16(last);
    }
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return (uint16_t)~sum;
}

void ZND_TimevalSub(struct timeval *a, const struct timeval *b)
{
    a->tv_usec -= b->tv_usec;
    if (a->tv_usec < 0) {
        a->tv_sec--;
        a->tv_usec += 1000000;
    }
    a->tv_sec -= b->tv_sec;
}

void ZND_IcmpBuildEchoRequest(uint8_t out[ZND_ICMP_ECHO_SIZE], uint16_t ident, uint16_t seq,
                              const struct timeval *sent)
{
    memset(out, 0, ZND_ICMP_ECHO_SIZE);
    out[0] = ZND_ICMP_ECHO_REQUEST;
    out[1] = 0;
    put16(out + 4, ident);
    put16(out + 6, seq);
    put32(out + 8, (uint32_t)sent->tv_sec);
    put32(out + 12, (uint32_t)sent->tv_usec);
    put16(out + 2, ZND_IcmpChecksum(out, ZND_ICMP_ECHO_SIZE));
}

ZND_IcmpVerdict ZND_IcmpReadReply(const uint8_t *pkt, size_t len, uint16_t ident, uint16_t *seq,
                                  struct timeval *sent)
{
    if (len < ZND_IP_HEADER_MIN)
        return ZND_ICMP_DISCARD;
    size_t ihl = (size_t)(pkt[0] & 0x0F) * 4;
    if (ihl < ZND_IP_HEADER_MIN || len < ihl + ZND_ICMP_HEADER_SIZE)
        return ZND_ICMP_DISCARD;
    const uint8_t *icmp = pkt + ihl;
    if (icmp[0] == ZND_ICMP_REDIRECT)
        return ZND_ICMP_DISCARD;
    if (icmp[0] != ZND_ICMP_ECHO_REPLY || get16(icmp + 4) != ident)
        return ZND_ICMP_FOREIGN;
    // Our reply, but too short to carry the send time back.
    if (len < ihl + 16)
        return ZND_ICMP_DISCARD;
    *seq = get16(icmp + 6);
    sent->tv_sec = (time_t)get32(icmp + 8);
    sent->tv_usec = (suseconds_t)get32(icmp + 12);
    return ZND_ICMP_MATCH;
}

bool ZND_IcmpRoundTripMs(const struct timeval *now, const struct timeval *sent, uint32_t *ms)
{
    struct timeval d = *now;
    ZND_TimevalSub(&d, sent);
    double t = (double)d.tv_sec * 1000.0 + (double)d.tv_usec / 1000.0;
    if (t < 0 || t >= 4294967295.0)
        return false;
    *ms = (uint32_t)t;
    return true;
}
