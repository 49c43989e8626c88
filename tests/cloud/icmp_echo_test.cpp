// Echo request layout, checksum, and reading of received datagrams.
#include <cstring>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <vector>
#include "cloud/icmp_echo.h"
#include "cloud/node_ping.h"
#include "core/log.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"

namespace {

uint32_t ones_sum(const uint8_t *p, size_t len)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < len; i += 2) {
        uint16_t w;
        memcpy(&w, p + i, 2);
        sum += w;
    }
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

TEST(IcmpEcho, RequestLayout)
{
    struct timeval tv = {0x01020304, 0x000A0B0C};
    uint8_t pkt[ZND_ICMP_ECHO_SIZE];
    memset(pkt, 0xEE, sizeof pkt);
    ZND_IcmpBuildEchoRequest(pkt, 0x1234, 2, &tv);
    EXPECT_EQ(8, pkt[0]);
    EXPECT_EQ(0, pkt[1]);
    uint16_t ident, seq;
    uint32_t sec, usec;
    memcpy(&ident, pkt + 4, 2);
    memcpy(&seq, pkt + 6, 2);
    memcpy(&sec, pkt + 8, 4);
    memcpy(&usec, pkt + 12, 4);
    EXPECT_EQ(0x1234, ident);   // host byte order, read back the same way
    EXPECT_EQ(2, seq);
    EXPECT_EQ(0x01020304u, sec);
    EXPECT_EQ(0x000A0B0Cu, usec);
    for (int i = 16; i < 28; i++)
        EXPECT_EQ(0, pkt[i]) << i;
    EXPECT_EQ(0xFFFFu, ones_sum(pkt, sizeof pkt));   // checksum included, the sum is all ones
}

TEST(IcmpEcho, ChecksumKnownValues)
{
    // The example of RFC 1071: words 0001 f203 f4f5 f6f7 sum to ddf2, checksum 220d.
    const uint8_t data[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    uint16_t sum = ZND_IcmpChecksum(data, sizeof data);
    uint8_t wire[2];
    memcpy(wire, &sum, 2);
    EXPECT_EQ(0x22, wire[0]);
    EXPECT_EQ(0x0d, wire[1]);
    // A sum needing two folds: fourteen words of ffff.
    std::vector<uint8_t> ones(28, 0xFF);
    EXPECT_EQ(0x0000, ZND_IcmpChecksum(ones.data(), ones.size()));
    std::vector<uint8_t> zeros(28, 0);
    EXPECT_EQ(0xFFFF, ZND_IcmpChecksum(zeros.data(), zeros.size()));
}

TEST(IcmpEcho, TimevalSubBorrows)
{
    struct timeval a = {5, 200}, b = {3, 500};
    ZND_TimevalSub(&a, &b);
    EXPECT_EQ(1, a.tv_sec);
    EXPECT_EQ(999700, a.tv_usec);
    struct timeval c = {7, 900000}, d = {2, 100000};
    ZND_TimevalSub(&c, &d);
    EXPECT_EQ(5, c.tv_sec);
    EXPECT_EQ(800000, c.tv_usec);
}

TEST(IcmpEcho, RoundTripMilliseconds)
{
    struct timeval sent = {100, 900000}, now = {101, 150500};
    uint32_t ms = 7;
    EXPECT_TRUE(ZND_IcmpRoundTripMs(&now, &sent, &ms));
    EXPECT_EQ(250u, ms);
    struct timeval fast = {100, 900400};
    EXPECT_TRUE(ZND_IcmpRoundTripMs(&fast, &sent, &ms));
    EXPECT_EQ(0u, ms);   // below a millisecond
    // No round trip takes a negative time or 4294967295 ms: the reply is no answer, not a 0 ms one.
    ms = 7;
    struct timeval before = {99, 0};
    EXPECT_FALSE(ZND_IcmpRoundTripMs(&before, &sent, &ms));   // clock stepped back
    struct timeval corrupt = {0, 0}, later = {4294968, 0};
    EXPECT_FALSE(ZND_IcmpRoundTripMs(&later, &corrupt, &ms));   // 4294968000 ms
    EXPECT_EQ(7u, ms);
    struct timeval last = {4294967, 294000};
    EXPECT_TRUE(ZND_IcmpRoundTripMs(&last, &corrupt, &ms));
    EXPECT_EQ(4294967294u, ms);
}

// A datagram as a raw socket delivers it: IP header of ihl words, then the ICMP message.
std::vector<uint8_t> datagram(int ihl_words, uint8_t type, uint16_t ident, uint16_t seq, size_t icmp_len = 28)
{
    std::vector<uint8_t> d((size_t)ihl_words * 4 + icmp_len, 0);
    d[0] = (uint8_t)(0x40 | ihl_words);
    struct timeval tv = {1000, 250};
    uint8_t echo[ZND_ICMP_ECHO_SIZE];
    ZND_IcmpBuildEchoRequest(echo, ident, seq, &tv);
    echo[0] = type;
    memcpy(d.data() + ihl_words * 4, echo, icmp_len < 28 ? icmp_len : 28);
    return d;
}

TEST(IcmpEcho, ReadsOwnReplies)
{
    uint16_t seq = 0;
    struct timeval sent = {};
    auto d = datagram(5, 0, 0x4242, 77);
    ASSERT_EQ(ZND_ICMP_MATCH, ZND_IcmpReadReply(d.data(), d.size(), 0x4242, &seq, &sent));
    EXPECT_EQ(77, seq);
    EXPECT_EQ(1000, sent.tv_sec);
    EXPECT_EQ(250, sent.tv_usec);
    // IP options: the header is longer and the message starts later.
    auto opt = datagram(15, 0, 0x4242, 78);
    ASSERT_EQ(ZND_ICMP_MATCH, ZND_IcmpReadReply(opt.data(), opt.size(), 0x4242, &seq, &sent));
    EXPECT_EQ(78, seq);
}

TEST(IcmpEcho, OtherMessagesEndOrAreSkipped)
{
    uint16_t seq = 0;
    struct timeval sent = {};
    auto redirect = datagram(5, 5, 0x4242, 1);
    EXPECT_EQ(ZND_ICMP_DISCARD, ZND_IcmpReadReply(redirect.data(), redirect.size(), 0x4242, &seq, &sent));
    auto unreach = datagram(5, 3, 0x4242, 1);
    EXPECT_EQ(ZND_ICMP_FOREIGN, ZND_IcmpReadReply(unreach.data(), unreach.size(), 0x4242, &seq, &sent));
    auto request = datagram(5, 8, 0x4242, 1);
    EXPECT_EQ(ZND_ICMP_FOREIGN, ZND_IcmpReadReply(request.data(), request.size(), 0x4242, &seq, &sent));
    auto other = datagram(5, 0, 0x4343, 1);
    EXPECT_EQ(ZND_ICMP_FOREIGN, ZND_IcmpReadReply(other.data(), other.size(), 0x4242, &seq, &sent));
    EXPECT_EQ(0, seq);
}

TEST(IcmpEcho, ShortOrMalformedDatagramsAreNeverReadPast)
{
    uint16_t seq = 0;
    struct timeval sent = {};
    // Each buffer is exactly as long as claimed, so ASan catches any read past its end.
    for (size_t len : {0, 1, 19, 20, 27}) {
        auto d = datagram(5, 0, 0x4242, 9, 28);
        std::vector<uint8_t> cut(d.begin(), d.begin() + (long)len);
        EXPECT_EQ(ZND_ICMP_DISCARD, ZND_IcmpReadReply(cut.data(), cut.size(), 0x4242, &seq, &sent)) << len;
    }
    auto head_only = datagram(5, 0, 0x4242, 9, 8);   // echo header without the send time
    EXPECT_EQ(ZND_ICMP_DISCARD, ZND_IcmpReadReply(head_only.data(), head_only.size(), 0x4242, &seq, &sent));
    auto bad_ihl = datagram(5, 0, 0x4242, 9);
    bad_ihl[0] = 0x42;   // a header of 8 bytes is impossible
    EXPECT_EQ(ZND_ICMP_DISCARD, ZND_IcmpReadReply(bad_ihl.data(), bad_ihl.size(), 0x4242, &seq, &sent));
    auto long_ihl = datagram(5, 0, 0x4242, 9);
    long_ihl[0] = 0x4F;   // claims 60 bytes of header in a 48-byte datagram
    EXPECT_EQ(ZND_ICMP_DISCARD, ZND_IcmpReadReply(long_ihl.data(), long_ihl.size(), 0x4242, &seq, &sent));
    EXPECT_EQ(0, seq);
}

TEST(PingEngine, MissingTable)
{
    ZND_ContextReset();
    ZND_DebugOn();
    LogCapture log;
    EXPECT_EQ(2u, Ping_SynPingIpv4(nullptr, 5));
    EXPECT_TRUE(log.Has("The argument is error!!"));
    ZND_ContextReset();
}

} // namespace
