// Node list reply: root "servers", one "server" element per node, one child element per field.
#include "cloud/node_list.h"

#include <cstring>
#include <libxml/tree.h>
#include <strings.h>
#include <string>
#include "cloud/exchange.h"
#include "cloud/node_ping.h"
#include "cloud/xml_reply.h"
#include "core/context.h"
#include "core/decimal.h"
#include "core/log.h"
#include "core/result.h"
#include "core/text_field.h"

#define ZND_NODE_PROBE_PASSES 5

namespace {

void log_table(const AccNodeServer *table)
{
    for (int i = 0; i < ZND_NODE_TABLE_SIZE && table[i].id != 0; i++) {
        const AccNodeServer &n = table[i];
        ZND_DBG("[id:%d, serverip:%s, servername:%s, level:%d, openvport:%d, update:%d, openvpndev:%s, protocal:%d.]",
                (int)n.id, n.cSvrIpv4, n.cSvrName, n.level, (int)n.ulOpenVpnPort, n.update, n.cOpenVpnDev,
                (int)n.protocal);
    }
}

uint32_t fetch_attempt(ClientRecord *client, const char *server, void *table)
{
    return ZND_GetNodesFromServerOld(client, static_cast<AccNodeServer *>(table), server);
}

} // namespace

void ZND_FillNodeCfgInfo(const _xmlNode *server, AccNodeServer *entry)
{
    for (const xmlNode *c = server->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE)
            continue;
        std::string text = ZND_XmlOwnText(c);
        if (text.empty())
            continue;
        if (ZND_XmlIsElement(c, "id"))
            entry->id = (uint32_t)ZND_DecimalInRange(text.c_str(), 0, ZND_NODE_ID_NONE - 1);
        else if (ZND_XmlIsElement(c, "serverip"))
            ZND_CopyCut(entry->cSvrIpv4, text.c_str());
        else if (ZND_XmlIsElement(c, "servername"))
            ZND_CopyCut(entry->cSvrName, text.c_str());
        else if (ZND_XmlIsElement(c, "level"))   // one that does not fit ranks worst, not as level 0
            entry->level = (int8_t)ZND_DecimalBounded(text.c_str(), INT8_MIN, INT8_MAX, 0, INT8_MAX);
        else if (ZND_XmlIsElement(c, "openvport"))
            entry->ulOpenVpnPort = ZND_DecimalU32(text.c_str());
        else if (ZND_XmlIsElement(c, "servermemo"))
            entry->update = strcasecmp(text.c_str(), "update/twitch") == 0 ? 1 : 0;
        else if (ZND_XmlIsElement(c, "openvpndev"))
            ZND_CopyCut(entry->cOpenVpnDev, text.c_str());
        else if (ZND_XmlIsElement(c, "protocal"))
            entry->protocal = ZND_DecimalU32(text.c_str());
    }
}

uint32_t ZND_ParseAccNodeDataOld(const char *xml, size_t len, AccNodeServer *table)
{
    if (!xml || !table) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    xmlDoc *doc = nullptr;
    const xmlNode *root = nullptr;
    ZND_XmlReplyStatus status = ZND_XmlReadReply(xml, len, "servers", &doc, &root);
    if (status == ZND_XML_REPLY_NOT_XML)
        return ZND_ERR_COMMON;
    if (status != ZND_XML_REPLY_OK) {
        ZND_KEYLOG("%s", status == ZND_XML_REPLY_NO_ROOT ? "parse acc node cfg root failed"
                                                         : "parse acc node cfg chld failed");
        xmlFreeDoc(doc);
        return ZND_ERR_NODE_CONFIG;
    }
    int taken = 0, left_out = 0;
    for (const xmlNode *c = root->children; c; c = c->next) {
        if (!ZND_XmlIsElement(c, "server"))
            continue;
        if (taken == ZND_NODE_TABLE_SIZE) {
            left_out++;
            continue;
        }
        memset(&table[taken], 0, sizeof table[taken]);
        ZND_FillNodeCfgInfo(c, &table[taken]);
        if (++taken == ZND_NODE_TABLE_SIZE)
            ZND_DBG("The storage space is full!");
    }
    if (left_out > 0)
        ZND_INFO("node list: %d nodes taken, %d beyond them left out", taken, left_out);
    xmlFreeDoc(doc);
    log_table(table);
    return ZND_OK;
}

uint32_t ZND_GetNodesFromServerOld(ClientRecord *client, AccNodeServer *table, const char *server)
{
    if (!client || !table || !server) {
        ZND_ERROR("argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    return ZND_ClientFetchAndParse(client, server, ZND_CLOUD_API_NODES, ZND_ParseAccNodeDataOld, table);
}

uint32_t ZND_GetAccNodes(ClientRecord *client, AccNodeServer *table)
{
    if (!client || !table) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    memset(table, 0, sizeof(AccNodeServer) * ZND_NODE_TABLE_SIZE);
    uint32_t rc = ZND_CloudServerWalk(fetch_attempt, client, table);
    if (rc != ZND_OK)
        return rc;
    return ZND_NodeLevelSort(table);
}

uint32_t ZND_NodeOrderKey(const AccNodeServer *node)
{
    // A node that never answered counts as the slowest of its level (999 ms): taken as 0 ms it
    // would rank first and be chosen as the best node although nobody knows it is reachable.
    uint32_t ping = node->ping != 0 ? node->ping : ZND_NODE_UNANSWERED_MS;
    // Unsigned and wrapping on purpose: the key of the deployed ordering.
    return 10101000u - ping - (uint32_t)((int32_t)node->update * 100000) -
           (uint32_t)((int32_t)node->level * 1000);
}

void ZND_NodeSortByKey(AccNodeServer *table)
{
    for (int p = 0; p < ZND_NODE_TABLE_SIZE && table[p].id != 0; p++) {
        uint32_t best = ZND_NodeOrderKey(&table[p]);
        int pick = -1;
        for (int q = p + 1; q < ZND_NODE_TABLE_SIZE; q++) {
            if (table[q].id == 0)
                continue;
            uint32_t key = ZND_NodeOrderKey(&table[q]);
            if (key > best) {
                best = key;
                pick = q;
            }
        }
        if (pick >= 0) {
            AccNodeServer tmp = table[p];
            table[p] = table[pick];
            table[pick] = tmp;
        }
    }
}

uint32_t ZND_NodeLevelSort(AccNodeServer *table)
{
    if (!table) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    Ping_SynPingIpv4(table, ZND_NODE_PROBE_PASSES);
    ZND_NodeSortByKey(table);
    return ZND_OK;
}

void ZND_NodeTableClear()
{
    memset(g_znd.nodes, 0, sizeof g_znd.nodes);
}

AccNodeServer *ZND_MatchAccNode(uint32_t id, const char *name)
{
    AccNodeServer *table = g_znd.nodes;
    if (id == 0)
        return &table[0];
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++)
        if (table[i].id != 0 && table[i].id == id)
            return &table[i];
    if (!name)
        return nullptr;
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++)
        if (table[i].cSvrName[0] != '\0' && strcmp(table[i].cSvrName, name) == 0)
            return &table[i];
    return &table[0];
}
