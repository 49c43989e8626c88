// Readers of the local route list files "gameList.conf" (login routes) and "smartRoute.conf"
// (traffic routes).
#include "route/route_file.h"

#include <cstring>
#include <json-c/json.h>
#include "config/client_record.h"
#include "core/json.h"
#include "core/log.h"
#include "core/result.h"

namespace {

json_object *array_member(json_object *obj, const char *key)
{
    json_object *member = ZND_JsonGetMember(obj, key);
    return json_object_is_type(member, json_type_array) ? member : nullptr;
}

// Code check and version: the common head of both documents.
uint32_t read_head(json_object *doc, ZND_RouteHash *set)
{
    uint32_t rc = CFGI_JsonRespCodeVerify(doc);
    if (rc != ZND_OK)
        return rc;
    const char *version = json_object_get_string(ZND_JsonGetMember(doc, "version"));
    if (!version) {
        ZND_ERROR("get version failed!");
        return ZND_ERR_COMMON;
    }
    // The field keeps up to 32 characters; only a shorter text is terminated.
    memset(set->version, 0, sizeof set->version);
    memcpy(set->version, version, strnlen(version, sizeof set->version));
    return ZND_OK;
}

// First element of games whose "gid" reads as 757 (a missing "gid" reads as 0).
json_object *select_game(json_object *games)
{
    size_t n = json_object_array_length(games);
    for (size_t i = 0; i < n; i++) {
        json_object *game = json_object_array_get_idx(games, i);
        if (json_object_get_int(ZND_JsonGetMember(game, "gid")) == ZND_GAME_ID)
            return game;
    }
    return nullptr;
}

// Adds every "ADDRESS:MASK" text of items; JSON nulls are skipped, other values are read as
// their JSON text, and items that are no valid network are skipped with their error line.
void add_items(json_object *items, ZND_RouteHash *set)
{
    ZND_RouteEntry scratch;
    memset(&scratch, 0, sizeof scratch);
    size_t n = json_object_array_length(items);
    for (size_t i = 0; i < n; i++) {
        const char *text = json_object_get_string(json_object_array_get_idx(items, i));
        if (!text)
            continue;
        if (ZND_RouteEntryFromItem(&scratch, text) == 0)
            ZND_RouteHashAdd(set, &scratch);
    }
}

} // namespace

uint32_t CFGI_ReadLoginRouteFromJsonFile(const char *path, ZND_RouteHash *set)
{
    json_object *doc = json_object_from_file(path);
    if (!doc) {
        ZND_ERROR("read file %s failed!", path);
        return ZND_ERR_OPEN_FILE;
    }
    uint32_t rc = ZND_ParseLoginRouteFromJson(doc, set);
    json_object_put(doc);
    return rc;
}

uint32_t CFGI_ReadTrafficRouteFromJsonFile(const char *path, ZND_RouteHash *set)
{
    json_object *doc = json_object_from_file(path);
    if (!doc) {
        ZND_ERROR("read json file: %s failed!", path);
        return ZND_ERR_OPEN_FILE;
    }
    uint32_t rc = ZND_ParseTrafficRouteFromJson(doc, set);
    json_object_put(doc);
    return rc;
}

uint32_t ZND_ParseLoginRouteFromJson(json_object *doc, ZND_RouteHash *set)
{
    uint32_t rc = read_head(doc, set);
    if (rc != ZND_OK)
        return rc;
    json_object *games = array_member(doc, "gamelist");
    if (!games) {
        ZND_ERROR("get game list failed!");
        return ZND_ERR_COMMON;
    }
    json_object *routes = array_member(select_game(games), "sroute");
    if (!routes) {
        ZND_ERROR("get vanto sroute list failed!");
        return ZND_ERR_COMMON;
    }
    add_items(routes, set);
    return ZND_OK;
}

uint32_t ZND_ParseTrafficRouteFromJson(json_object *doc, ZND_RouteHash *set)
{
    uint32_t rc = read_head(doc, set);
    if (rc != ZND_OK)
        return rc;
    json_object *rules = array_member(doc, "rules");
    if (!rules) {
        ZND_ERROR("get rules failed!");
        return ZND_ERR_COMMON;
    }
    json_object *servers = array_member(select_game(rules), "servers");
    if (!servers) {
        ZND_ERROR("get vanto servers list failed!");
        return ZND_ERR_COMMON;
    }
    size_t n = json_object_array_length(servers);
    for (size_t i = 0; i < n; i++) {
        json_object *ranges = array_member(json_object_array_get_idx(servers, i), "mrange");
        if (ranges)
            add_items(ranges, set);
    }
    return ZND_OK;
}
