// Node list replies into the node table, and the fetch over the cloud servers. Runs in the
// sandbox: failures write the key log, and the fetch probes the nodes (nothing is routable here).
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include "cloud/node_list.h"
#include "core/build_config.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"

namespace {

std::string server_xml(int id, const std::string &extra = "")
{
    return "<server><id>" + std::to_string(id) + "</id><serverip>198.51.100." + std::to_string(id) +
           "</serverip><servername>node-" + std::to_string(id) + "</servername>" + extra + "</server>";
}

class NodeList : public ::testing::Test {
protected:
    void SetUp() override { ZND_ContextReset(); }
    void TearDown() override { ZND_ContextReset(); }
    uint32_t Parse(const std::string &xml) { return ZND_ParseAccNodeDataOld(xml.data(), xml.size(), table); }
    AccNodeServer table[ZND_NODE_TABLE_SIZE] = {};
};

TEST_F(NodeList, ThreeServersFillThreeEntries)
{
    ZND_DebugOn();
    LogCapture log;
    ASSERT_EQ(ZND_OK, Parse("<?xml version=\"1.0\"?>\n<servers>\n"
                            "  <server>\n    <id>7</id>\n    <serverip>198.51.100.7</serverip>\n"
                            "    <servername>tokyo &amp; osaka</servername>\n    <level>3</level>\n"
                            "    <openvport>1194</openvport>\n    <servermemo>normal</servermemo>\n"
                            "    <openvpndev>tun</openvpndev>\n    <protocal>2</protocal>\n  </server>\n" +
                            server_xml(8, "<servermemo>UPDATE/Twitch</servermemo><level>-2</level>") +
                            "<!-- comment -->" + server_xml(9, "<level>300</level>") + "</servers>"));
    EXPECT_EQ(7u, table[0].id);
    EXPECT_STREQ("198.51.100.7", table[0].cSvrIpv4);
    EXPECT_STREQ("tokyo & osaka", table[0].cSvrName);
    EXPECT_STREQ("tun", table[0].cOpenVpnDev);
    EXPECT_EQ(3, table[0].level);
    EXPECT_EQ(1194u, table[0].ulOpenVpnPort);
    EXPECT_EQ(2u, table[0].protocal);
    EXPECT_EQ(0, table[0].update);
    EXPECT_EQ(1, table[1].update);
    EXPECT_EQ(-2, table[1].level);
    EXPECT_EQ(127, table[2].level);   // 300 does not fit the 8-bit level: the worst, not 44 nor 0
    for (int i = 3; i < ZND_NODE_TABLE_SIZE; i++)
        EXPECT_EQ(0u, table[i].id) << i;
    EXPECT_TRUE(log.Has("[id:7, serverip:198.51.100.7, servername:tokyo & osaka, level:3, openvport:1194, "
                        "update:0, openvpndev:tun, protocal:2.]"));
    EXPECT_EQ(3u, log.Count("[id:"));
}

TEST_F(NodeList, LetterCaseOfNamesIsIgnored)
{
    ASSERT_EQ(ZND_OK, Parse("<SERVERS><Server><Id>4</Id><SERVERIP>192.0.2.4</SERVERIP>"
                            "<ServerMemo>update/twitch</ServerMemo><OPENVPORT>443</OPENVPORT></Server></SERVERS>"));
    EXPECT_EQ(4u, table[0].id);
    EXPECT_STREQ("192.0.2.4", table[0].cSvrIpv4);
    EXPECT_EQ(1, table[0].update);
    EXPECT_EQ(443u, table[0].ulOpenVpnPort);
}

TEST_F(NodeList, TextsAreCutToTheirFields)
{
    std::string name(50, 'n'), dev(20, 'd'), ip(40, '1');
    ASSERT_EQ(ZND_OK, Parse("<servers><server><id>1</id><servername>" + name + "</servername><openvpndev>" + dev +
                            "</openvpndev><serverip>" + ip + "</serverip><id>x</id><level></level></server></servers>"));
    EXPECT_EQ(std::string(31, 'n'), table[0].cSvrName);
    EXPECT_EQ(std::string(15, 'd'), table[0].cOpenVpnDev);
    EXPECT_EQ(std::string(31, '1'), table[0].cSvrIpv4);
    EXPECT_EQ(0u, table[0].id);   // the later non-numeric id counts as 0
}

// A number that does not fit its field is invalid, never wrapped into it: id 4294967297 would
// otherwise be node 1, and port -1 port 4294967295.
TEST_F(NodeList, NumbersThatDoNotFitAreInvalid)
{
    ASSERT_EQ(ZND_OK, Parse("<servers>" + server_xml(1) +
                            "<server><id>4294967297</id><openvport>-1</openvport><protocal>99999999999</protocal>"
                            "<level>-129</level></server>" +
                            server_xml(3, "<openvport>4294967295</openvport><level>-128</level>") + "</servers>"));
    EXPECT_EQ(1u, table[0].id);
    EXPECT_EQ(0u, table[1].id);
    EXPECT_EQ(0u, table[1].ulOpenVpnPort);
    EXPECT_EQ(0u, table[1].protocal);
    EXPECT_EQ(127, table[1].level);
    EXPECT_EQ(4294967295u, table[2].ulOpenVpnPort);   // the largest that fits
    EXPECT_EQ(-128, table[2].level);
}

TEST_F(NodeList, EmptyRootAndOtherRoots)
{
    LogCapture log;
    EXPECT_EQ(ZND_OK, Parse("<Servers/>"));
    EXPECT_EQ(0u, table[0].id);
    EXPECT_EQ(ZND_ERR_NODE_CONFIG, Parse("<error>access denied</error>"));
    EXPECT_TRUE(log.Has("parse xml chld failed!"));
    EXPECT_NE(std::string::npos, ZND_TestReadFile(ZND_PATH_KEY_LOG).find("]: parse acc node cfg chld failed\n"));
    EXPECT_EQ(ZND_ERR_COMMON, Parse("<servers><server><id>1</id>"));
    EXPECT_EQ(ZND_ERR_COMMON, Parse("Y|2025|x"));
    EXPECT_EQ(ZND_ERR_COMMON, Parse(""));
    EXPECT_EQ(3u, log.Count("get parse xml memory failed!"));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ParseAccNodeDataOld(nullptr, 3, table));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_ParseAccNodeDataOld("<servers/>", 10, nullptr));
}

TEST_F(NodeList, TenAndTwelveServers)
{
    ZND_DebugOn();
    for (int total : {10, 12}) {
        LogCapture log;
        memset(table, 0, sizeof table);
        std::string xml = "<servers>";
        for (int i = 1; i <= total; i++)
            xml += server_xml(i);
        ASSERT_EQ(ZND_OK, Parse(xml + "</servers>"));
        EXPECT_EQ(1u, log.Count("The storage space is full!")) << total;
        EXPECT_EQ(10u, table[9].id);
        EXPECT_STREQ("node-10", table[9].cSvrName);
        EXPECT_EQ(total == 12, log.Has("node list: 10 nodes taken, 2 beyond them left out")) << total;
    }
}

// Each tag costs a node of the document in memory, whatever its bytes: a reply of many tiny
// elements is refused before it is built.
TEST_F(NodeList, ReplyOfTooManyTagsIsNotBuilt)
{
    LogCapture log;
    std::string many;
    for (int i = 0; i < 16384 - 10; i++)   // the rest are those of the list and its one server
        many += "<x/>";
    ASSERT_EQ(ZND_OK, Parse("<servers>" + many + server_xml(1) + "</servers>"));
    EXPECT_EQ(1u, table[0].id);
    memset(table, 0, sizeof table);
    EXPECT_EQ(ZND_ERR_COMMON, Parse("<servers><x/>" + many + server_xml(1) + "</servers>"));
    EXPECT_TRUE(log.Has("reply of 16385 tags is over the limit of 16384, not read"));
    EXPECT_EQ(0u, table[0].id);
}

TEST_F(NodeList, ServerWithoutIdLeavesEmptyEntry)
{
    ASSERT_EQ(ZND_OK, Parse("<servers>" + server_xml(1) +
                            "<server><serverip>198.51.100.2</serverip></server>" + server_xml(3) + "</servers>"));
    EXPECT_EQ(1u, table[0].id);
    EXPECT_EQ(0u, table[1].id);
    EXPECT_STREQ("198.51.100.2", table[1].cSvrIpv4);
    EXPECT_EQ(3u, table[2].id);
}

// The fetch over the server list with the shell faked: each curl run leaves a reply file.
class NodeFetch : public NodeList {
protected:
    void ReplyFor(const std::string &server, const std::string &body, int status = 0)
    {
        shell.On("'" + server + "/api/cfgcontrol'", status, "", [body](const std::string &) {
            ZND_TestWriteFile(ZND_PATH_SERVER_REPLY, body);
        });
    }
    FakeShell shell;
    ClientRecord client = {};
};

TEST_F(NodeFetch, FirstServerThatAnswersFillsAndSortsTheTable)
{
    strcpy(client.uname, "alice");
    client.gid = 757;
    shell.On("rm -rf " ZND_PATH_SERVER_REPLY, 0, "", [](const std::string &) { unlink(ZND_PATH_SERVER_REPLY); });
    ReplyFor(ZND_CLOUD_PRIMARY, "", FakeShell::Exit(7));
    ReplyFor(ZND_CLOUD_SECONDARY, "<servers>" + server_xml(1, "<level>5</level>") + server_xml(2) +
                                      "</servers>");
    memset(g_znd.nodes, 0xAB, sizeof g_znd.nodes);   // stale content must go
    ASSERT_EQ(ZND_OK, ZND_GetAccNodes(&client, g_znd.nodes));
    EXPECT_EQ(2u, g_znd.nodes[0].id);   // level 0 before level 5
    EXPECT_EQ(1u, g_znd.nodes[1].id);
    EXPECT_EQ(0u, g_znd.nodes[2].id);
    EXPECT_EQ(0u, g_znd.nodes[9].id);
    EXPECT_EQ(0u, shell.Count(ZND_CLOUD_FALLBACK "/api/cfgcontrol"));
}

TEST_F(NodeFetch, EveryServerFailingLeavesTheTableEmpty)
{
    ReplyFor(ZND_CLOUD_PRIMARY, "<servers><server><id>1</id>");
    ReplyFor(ZND_CLOUD_SECONDARY, "<games/>");
    ReplyFor(ZND_CLOUD_FALLBACK, "", FakeShell::Exit(28));
    g_znd.nodes[0].id = 99;
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, ZND_GetAccNodes(&client, g_znd.nodes));
    EXPECT_EQ(0u, g_znd.nodes[0].id);
    EXPECT_EQ(3u, shell.Count("/api/cfgcontrol"));

    ReplyFor(ZND_CLOUD_FALLBACK, "<games/>");
    EXPECT_EQ(ZND_ERR_NODE_CONFIG, ZND_GetAccNodes(&client, g_znd.nodes));
}

TEST_F(NodeFetch, MissingArguments)
{
    LogCapture log;
    EXPECT_EQ(ZND_ERR_COMMON, ZND_GetAccNodes(nullptr, g_znd.nodes));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_GetNodesFromServerOld(&client, nullptr, "x"));
    EXPECT_TRUE(log.Has("argument point is NULL!!"));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_NodeLevelSort(nullptr));
    EXPECT_TRUE(shell.commands().empty());
}

} // namespace
