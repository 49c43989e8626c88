// Game list reply: root "games", one "game" element per game with "gid" and "gsroute" children;
// a "gsroute" text is a "|"-separated list of ADDRESS:MASK items.
#include "cloud/cloud_route.h"

#include <cstdlib>
#include <cstring>
#include <libxml/tree.h>
#include <string>
#include "cloud/exchange.h"
#include "cloud/xml_reply.h"
#include "core/log.h"
#include "core/result.h"

#define ZND_ROUTE_ITEM_MAX 63
// Routes taken from one game list: each costs memory here and a route in the kernel.
#define ZND_CLOUD_ROUTE_MAX 32768

namespace {

bool is_our_game(const xmlNode *game)
{
    for (const xmlNode *c = game->children; c; c = c->next)
        if (ZND_XmlIsElement(c, "gid") && strtoll(ZND_XmlOwnText(c).c_str(), nullptr, 10) == ZND_GAME_ID)
            return true;
    return false;
}

// Adds every well-formed item; empty items, items without ":" and texts that do not fit a route
// entry are skipped rather than stored half-filled. *taken counts the items added up to the limit,
// *left_out those beyond it.
void add_route_items(const std::string &list, ZND_RouteHash *set, size_t *taken, size_t *left_out)
{
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find('|', start);
        if (end == std::string::npos)
            end = list.size();
        // Line breaks and indentation of the document are not part of an address.
        size_t first = list.find_first_not_of(" \t\r\n", start);
        if (first == std::string::npos || first > end)
            first = end;
        std::string item = list.substr(first, end - first).substr(0, ZND_ROUTE_ITEM_MAX);
        ZND_RouteEntry e;
        memset(&e, 0, sizeof e);
        bool valid = ZND_RouteEntryFromItem(&e, item.c_str()) == 0;
        if (valid && *taken >= ZND_CLOUD_ROUTE_MAX) {
            ++*left_out;
        } else if (valid) {
            ZND_RouteHashAdd(set, &e);
            ++*taken;
            ZND_DBG("=========ip/mask: %s/%s===========", e.ip, e.mask);
        }
        start = end + 1;
    }
}

void read_game(const xmlNode *game, ZND_RouteHash *set)
{
    size_t taken = 0, left_out = 0;
    for (const xmlNode *c = game->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE)
            continue;
        std::string text = ZND_XmlOwnText(c);
        if (!text.empty())
            ZND_DBG("======key : %s, value : %s==========", reinterpret_cast<const char *>(c->name), text.c_str());
        if (ZND_XmlIsElement(c, "gsroute"))
            add_route_items(text, set, &taken, &left_out);
    }
    if (left_out > 0)
        ZND_ERROR("game list: %zu routes taken, %zu beyond them left out", taken, left_out);
}

uint32_t fetch_attempt(ClientRecord *client, const char *server, void *set)
{
    return ZND_GetLoginRouteFromServerOld(client, server, static_cast<ZND_RouteHash *>(set));
}

} // namespace

uint32_t ZND_ParseLoginRouteDataOld(const char *xml, size_t len, ZND_RouteHash *set)
{
    if (!xml || len == 0 || !set) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    xmlDoc *doc = nullptr;
    const xmlNode *root = nullptr;
    if (ZND_XmlReadReply(xml, len, "games", &doc, &root) == ZND_XML_REPLY_NOT_XML)
        return ZND_ERR_COMMON;
    uint32_t rc = ZND_ERR_COMMON;
    for (const xmlNode *game = root ? root->children : nullptr; game; game = game->next) {
        if (ZND_XmlIsElement(game, "game") && is_our_game(game)) {
            read_game(game, set);
            rc = ZND_OK;
            break;
        }
    }
    xmlFreeDoc(doc);
    return rc;
}

uint32_t ZND_GetLoginRouteFromServerOld(ClientRecord *client, const char *server, ZND_RouteHash *set)
{
    return ZND_ClientFetchAndParse(client, server, ZND_CLOUD_API_GAMES, ZND_ParseLoginRouteDataOld, set);
}

uint32_t ZND_GetCloudLoginRoute(ClientRecord *client, ZND_RouteHash *set)
{
    if (!client || !set) {
        ZND_ERROR("the pstClient or nRoute is NULL!!");
        return ZND_ERR_COMMON;
    }
    return ZND_CloudServerWalk(fetch_attempt, client, set);
}
