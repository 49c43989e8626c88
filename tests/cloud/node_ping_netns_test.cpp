// The echo engine on real links, against a responder with known delays in another namespace.
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include "cloud/node_list.h"
#include "cloud/node_ping.h"
#include "core/context.h"
#include "harness/context_reset.h"
#include "harness/sandbox.h"
#include "icmp_lab.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

class EchoProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        std::string why;
        ASSERT_TRUE(lab.Build(10, &why)) << why;
    }
    void TearDown() override { ZND_ContextReset(); }
    void AddNode(int slot, int addr_index, uint32_t id = 0)
    {
        table[slot].id = id ? id : (uint32_t)(addr_index + 100);
        snprintf(table[slot].cSvrIpv4, sizeof table[slot].cSvrIpv4, "%s", IcmpLab::NodeAddr(addr_index).c_str());
    }
    IcmpLab lab;
    AccNodeServer table[ZND_NODE_TABLE_SIZE] = {};
};

TEST_F(EchoProbe, AnsweringNodesGetTheirRoundTripAndSilentOnesZero)
{
    ASSERT_TRUE(lab.StartResponder({{IcmpLab::NodeAddr(1), {{20}}},
                                    {IcmpLab::NodeAddr(2), {{60}}},
                                    {IcmpLab::NodeAddr(3), {{120}}}}));
    for (int i = 0; i < 4; i++)
        AddNode(i, i + 1);   // the fourth never answers
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, Ping_SynPingIpv4(table, 1));
    double took = seconds_since(t0);
    // At least the responder's delay, and in the order the replies were sent; how much longer a
    // busy machine makes them is not for the test to bound.
    EXPECT_GE(table[0].ping, 20u);
    EXPECT_GE(table[1].ping, 60u);
    EXPECT_GE(table[2].ping, 120u);
    EXPECT_LT(table[0].ping, table[1].ping);
    EXPECT_LT(table[1].ping, table[2].ping);
    EXPECT_EQ(0u, table[3].ping);
    // The silent node keeps the pass waiting for its full second.
    EXPECT_GE(took, 1.0);
}

TEST_F(EchoProbe, BestOfThreeAnswersInFivePasses)
{
    // Answers the first three requests (50, 15, 30 ms), then goes silent.
    IcmpLab::Answer flaky;
    flaky.delays_ms = {50, 15, 30};
    flaky.repeat_last = false;
    ASSERT_TRUE(lab.StartResponder({{IcmpLab::NodeAddr(1), flaky}, {IcmpLab::NodeAddr(2), {{25}}}}));
    AddNode(0, 1);
    AddNode(1, 2);
    g_znd.icmpSeq = 1;
    ASSERT_EQ(0u, Ping_SynPingIpv4(table, 5));
    EXPECT_GE(table[0].ping, 15u);
    EXPECT_LT(table[0].ping, 30u);   // the 15 ms answer of the second pass, kept over 50 and 30
    EXPECT_GE(table[1].ping, 25u);
    EXPECT_LT(table[1].ping, 125u);
    EXPECT_EQ(11, g_znd.icmpSeq);   // two requests per pass, the first carried 2
    EXPECT_EQ(10, table[0].pingSeq);
    EXPECT_EQ(11, table[1].pingSeq);
    EXPECT_EQ(5, lab.RequestsSeen()[IcmpLab::NodeAddr(1)]);
}

TEST_F(EchoProbe, TableEndsAtFirstEmptyRecord)
{
    ASSERT_TRUE(lab.StartResponder({{IcmpLab::NodeAddr(1), {{10}}},
                                    {IcmpLab::NodeAddr(2), {{10}}},
                                    {IcmpLab::NodeAddr(4), {{10}}}}));
    AddNode(0, 1);
    AddNode(1, 2);
    snprintf(table[2].cSvrIpv4, sizeof table[2].cSvrIpv4, "%s", IcmpLab::NodeAddr(3).c_str());
    AddNode(3, 4);
    ASSERT_EQ(0u, Ping_SynPingIpv4(table, 3));
    auto seen = lab.RequestsSeen();
    EXPECT_EQ(3, seen[IcmpLab::NodeAddr(1)]);
    EXPECT_EQ(3, seen[IcmpLab::NodeAddr(2)]);
    EXPECT_EQ(0, seen[IcmpLab::NodeAddr(3)]);
    EXPECT_EQ(0, seen[IcmpLab::NodeAddr(4)]);
    EXPECT_EQ(0u, table[3].ping);
    EXPECT_EQ(0, table[3].pingSeq);
    EXPECT_GT(table[1].ping, 0u);
}

// A node that cannot be sent to is skipped, not the end of the send phase; a reply whose round
// trip is impossible counts as no answer, not as the best time.
TEST_F(EchoProbe, UnsendableNodesAndImpossibleTimesCountAsNoAnswer)
{
    IcmpLab::Answer ahead, ancient;
    ahead.delays_ms = ancient.delays_ms = {10};
    ahead.time_shift_s = 3600;            // sent "an hour from now": a negative round trip
    ancient.time_shift_s = -4294968;      // 4294968000 ms ago
    ASSERT_TRUE(lab.StartResponder({{IcmpLab::NodeAddr(1), {{20}}},
                                    {IcmpLab::NodeAddr(2), ahead},
                                    {IcmpLab::NodeAddr(3), ancient},
                                    {IcmpLab::NodeAddr(4), {{40}}}}));
    const char *unsendable[] = {"node.example", "", "203.0.113.1"};   // the last has no route here
    for (int i = 0; i < 3; i++) {
        table[i].id = (uint32_t)(i + 1);
        snprintf(table[i].cSvrIpv4, sizeof table[i].cSvrIpv4, "%s", unsendable[i]);
    }
    for (int i = 3; i < 7; i++)
        AddNode(i, i - 2);
    ASSERT_EQ(0u, Ping_SynPingIpv4(table, 2));
    auto seen = lab.RequestsSeen();
    for (int i = 1; i <= 4; i++)
        EXPECT_EQ(2, seen[IcmpLab::NodeAddr(i)]) << i;
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0u, table[i].ping) << unsendable[i];
    EXPECT_GE(table[3].ping, 20u);
    EXPECT_EQ(0u, table[4].ping);
    EXPECT_EQ(0u, table[5].ping);
    EXPECT_GE(table[6].ping, 40u);
}

TEST_F(EchoProbe, TenNodesTakeAboutAsLongAsOne)
{
    std::map<std::string, IcmpLab::Answer> answers;
    for (int i = 1; i <= 10; i++)
        answers[IcmpLab::NodeAddr(i)] = {{200}};
    ASSERT_TRUE(lab.StartResponder(answers));

    AddNode(0, 1);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, Ping_SynPingIpv4(table, 3));
    double one = seconds_since(t0);

    for (int i = 0; i < 10; i++)
        AddNode(i, i + 1);
    t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, Ping_SynPingIpv4(table, 3));
    double ten = seconds_since(t0);
    for (int i = 0; i < 10; i++)
        EXPECT_GE(table[i].ping, 200u) << i;
    EXPECT_GE(one, 0.6);
    // Probed one after the other, ten nodes would take ten times as long as one; measured against
    // the one-node pass of this same run, a busy machine slows both alike.
    EXPECT_LT(ten, 4 * one) << "one node " << one << " s, ten nodes " << ten << " s";
}

TEST_F(EchoProbe, SequenceWrapsToZero)
{
    ASSERT_TRUE(lab.StartResponder({{IcmpLab::NodeAddr(1), {{10}}}}));
    AddNode(0, 1);
    g_znd.icmpSeq = 65535;
    ASSERT_EQ(0u, Ping_SynPingIpv4(table, 1));
    EXPECT_EQ(0, table[0].pingSeq);
    EXPECT_EQ(0, g_znd.icmpSeq);
    EXPECT_GE(table[0].ping, 10u);
}

TEST_F(EchoProbe, NodeListIsOrderedByMeasuredTimes)
{
    ASSERT_TRUE(lab.StartResponder({{IcmpLab::NodeAddr(1), {{90}}},
                                    {IcmpLab::NodeAddr(2), {{15}}},
                                    {IcmpLab::NodeAddr(3), {{50}}},
                                    {IcmpLab::NodeAddr(4), {{5}}}}));
    for (int i = 0; i < 4; i++)
        AddNode(i, i + 1, (uint32_t)(i + 1));
    table[3].level = 1;   // fastest, but of a higher level
    ASSERT_EQ(0u, ZND_NodeLevelSort(table));
    EXPECT_EQ(2u, table[0].id);
    EXPECT_EQ(3u, table[1].id);
    EXPECT_EQ(1u, table[2].id);
    EXPECT_EQ(4u, table[3].id);
    EXPECT_GE(table[2].ping, 90u);
}

// The raw socket sees every ICMP message of the host, our own requests to a local address among
// them; such messages are skipped instead of ending the pass before the reply arrives.
TEST_F(EchoProbe, MessagesThatAreNotOurRepliesDoNotEndThePass)
{
    ZND_ContextReset();
    AccNodeServer local[ZND_NODE_TABLE_SIZE] = {};
    local[0].id = 1;
    snprintf(local[0].cSvrIpv4, sizeof local[0].cSvrIpv4, "127.0.0.1");
    ASSERT_EQ(0u, Ping_SynPingIpv4(local, 3));
    EXPECT_GT(local[0].ping, 0u);
}

} // namespace
