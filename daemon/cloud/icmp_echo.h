// Echo request and reply layout of the node probe.
#pragma once
#include <cstddef>
#include <cstdint>

struct timeval;

#define ZND_ICMP_ECHO_SIZE 28
#define ZND_ICMP_HEADER_SIZE 8
#define ZND_ICMP_ECHO_REPLY 0
#define ZND_ICMP_REDIRECT 5
#define ZND_ICMP_ECHO_REQUEST 8

// Builds the 28-byte request: type, code, checksum, then identifier, sequence and send time in the
// host's byte order, then zero padding.
void ZND_IcmpBuildEchoRequest(uint8_t out[ZND_ICMP_ECHO_SIZE], uint16_t ident, uint16_t seq,
                              const struct timeval *sent);

// One received datagram, IP header included, as the echo engine reads it.
enum ZND_IcmpVerdict {
    ZND_ICMP_DISCARD,   // redirect, or a datagram too short or malformed to read: keep waiting
    ZND_ICMP_FOREIGN,   // another type or another identifier: not ours, ignored
    ZND_ICMP_MATCH,     // an echo reply of ours: seq and sent are set
};
ZND_IcmpVerdict ZND_IcmpReadReply(const uint8_t *pkt, size_t len, uint16_t ident, uint16_t *seq,
                                  struct timeval *sent);

// Internet checksum (RFC 1071) of len bytes.
uint16_t ZND_IcmpChecksum(const void *data, size_t len);
// a := a - b.
void ZND_TimevalSub(struct timeval *a, const struct timeval *b);
// Milliseconds of a round trip (now - sent), truncated, into *ms; false when no round trip can
// take that long: a negative time (the clock stepped back during the pass) or 4294967295 ms or
// more (a corrupt echoed send time). Such a reply counts as no answer.
bool ZND_IcmpRoundTripMs(const struct timeval *now, const struct timeval *sent, uint32_t *ms);
