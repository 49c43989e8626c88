// Node selection by id and name, and the ordering of the node table.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "cloud/node.h"
#include "cloud/node_list.h"
#include "core/context.h"
#include "harness/context_reset.h"

namespace {

void set_node(AccNodeServer *n, uint32_t id, const char *name, int level = 0, uint32_t ping = 0, int update = 0)
{
    memset(n, 0, sizeof *n);
    n->id = id;
    snprintf(n->cSvrName, sizeof n->cSvrName, "%s", name);
    n->level = (int8_t)level;
    n->ping = ping;
    n->update = (int8_t)update;
}

std::vector<uint32_t> ids(const AccNodeServer *t)
{
    std::vector<uint32_t> out;
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++)
        out.push_back(t[i].id);
    return out;
}

class NodeMatch : public ::testing::Test {
protected:
    void SetUp() override { ZND_ContextReset(); }
    void TearDown() override { ZND_ContextReset(); }
};

TEST_F(NodeMatch, EmptyTableIdZeroGivesFirstEntry)
{
    AccNodeServer *n = ZND_MatchAccNode(0, "whatever");
    ASSERT_EQ(&g_znd.nodes[0], n);
    EXPECT_EQ(0u, n->id);
}

TEST_F(NodeMatch, IdThenNameThenFirst)
{
    set_node(&g_znd.nodes[0], 11, "tokyo");
    set_node(&g_znd.nodes[1], 12, "osaka");
    set_node(&g_znd.nodes[2], 13, "osaka");
    EXPECT_EQ(&g_znd.nodes[2], ZND_MatchAccNode(13, "tokyo"));   // id wins over name
    EXPECT_EQ(&g_znd.nodes[1], ZND_MatchAccNode(99, "osaka"));   // first with the name
    EXPECT_EQ(&g_znd.nodes[0], ZND_MatchAccNode(99, "nowhere"));
    EXPECT_EQ(nullptr, ZND_MatchAccNode(99, nullptr));
    EXPECT_EQ(&g_znd.nodes[0], ZND_MatchAccNode(0, "osaka"));    // id 0 never looks further
}

TEST_F(NodeMatch, EmptyNamesAndEmptyEntriesNeverMatch)
{
    set_node(&g_znd.nodes[0], 11, "tokyo");
    // An empty entry with a stale name or a name "" must not be picked.
    set_node(&g_znd.nodes[3], 0, "");
    EXPECT_EQ(&g_znd.nodes[0], ZND_MatchAccNode(5, ""));
    g_znd.nodes[4].id = 0;
    EXPECT_EQ(nullptr, ZND_MatchAccNode(5, nullptr));
}

TEST(NodeSort, LevelThenPingThenMemo)
{
    AccNodeServer t[ZND_NODE_TABLE_SIZE] = {};
    set_node(&t[0], 1, "l1-30", 1, 30);
    set_node(&t[1], 2, "twitch", 0, 5, 1);
    set_node(&t[2], 3, "l1-20", 1, 20);
    set_node(&t[3], 4, "l0-400", 0, 400);
    ZND_NodeSortByKey(t);
    EXPECT_EQ((std::vector<uint32_t>{4, 3, 1, 2, 0, 0, 0, 0, 0, 0}), ids(t));
}

TEST(NodeSort, UnansweredComesBehindAnsweredOfSameLevelButAheadOfHigherLevels)
{
    AccNodeServer t[ZND_NODE_TABLE_SIZE] = {};
    set_node(&t[0], 1, "silent", 0, 0);
    set_node(&t[1], 2, "l1-5", 1, 5);
    set_node(&t[2], 3, "l0-900", 0, 900);
    set_node(&t[3], 4, "l0-15", 0, 15);
    ZND_NodeSortByKey(t);
    EXPECT_EQ((std::vector<uint32_t>{4, 3, 1, 2, 0, 0, 0, 0, 0, 0}), ids(t));
    EXPECT_EQ(0u, t[2].ping);   // the table still reports that it never answered
}

TEST(NodeSort, SelectionSwapMovesFirstBehindSecond)
{
    AccNodeServer t[ZND_NODE_TABLE_SIZE] = {};
    set_node(&t[0], 1, "first", 0, 50);
    set_node(&t[1], 2, "second", 0, 50);
    set_node(&t[2], 3, "third", 0, 10);
    ZND_NodeSortByKey(t);
    EXPECT_EQ((std::vector<uint32_t>{3, 2, 1, 0, 0, 0, 0, 0, 0, 0}), ids(t));
    EXPECT_STREQ("third", t[0].cSvrName);   // whole records move
}

TEST(NodeSort, EmptyEntryStopsTheSortButNotTheScan)
{
    AccNodeServer t[ZND_NODE_TABLE_SIZE] = {};
    set_node(&t[0], 1, "a", 2, 10);
    set_node(&t[1], 2, "b", 3, 10);
    set_node(&t[2], 0, "no-id", 0, 1);
    set_node(&t[3], 4, "d", 0, 10);
    set_node(&t[4], 5, "e", 1, 10);
    ZND_NodeSortByKey(t);
    // Position 0 takes d, position 1 takes e; the empty entry stays and the sort stops there.
    EXPECT_EQ((std::vector<uint32_t>{4, 5, 0, 1, 2, 0, 0, 0, 0, 0}), ids(t));
    EXPECT_STREQ("no-id", t[2].cSvrName);
}

TEST(NodeSort, KeyWrapsAsUnsigned)
{
    AccNodeServer n = {};
    n.level = -1;   // a negative level raises the key
    n.ping = 1;
    EXPECT_EQ(10101999u, ZND_NodeOrderKey(&n));
    n.level = 127;
    n.update = 1;
    n.ping = 20000000;   // larger than the base: wraps to a huge key
    EXPECT_EQ((uint32_t)(10101000u - 20000000u - 100000u - 127000u), ZND_NodeOrderKey(&n));
    AccNodeServer t[ZND_NODE_TABLE_SIZE] = {};
    t[0] = n;
    t[0].id = 1;
    set_node(&t[1], 2, "fast", 0, 1);
    ZND_NodeSortByKey(t);
    EXPECT_EQ(1u, t[0].id);   // the wrapped key compares greater
}

} // namespace
