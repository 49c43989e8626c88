// Login reply: fields separated by "|", read by position; empty fields count.
#include "cloud/login.h"

#include <cstdlib>
#include <cstring>
#include <json-c/json.h>
#include "cloud/exchange.h"
#include "core/log.h"
#include "core/result.h"
#include "core/text_field.h"

#define ZND_LOGIN_FIELD_MAX 63
#define ZND_LOGIN_FIELD_COUNT 10
#define ZND_VIP_ACCEPTED 0x01
#define ZND_VIP_TYPE_100 0x04
#define ZND_VIP_PAID 0x08

namespace {

// Copies the field that starts at p (at most 63 characters) into out; returns the start of the
// next field, or nullptr after the last one.
const char *next_field(const char *p, char (&out)[ZND_LOGIN_FIELD_MAX + 1])
{
    size_t len = strcspn(p, "|");
    size_t keep = len < ZND_LOGIN_FIELD_MAX ? len : ZND_LOGIN_FIELD_MAX;
    memcpy(out, p, keep);
    out[keep] = '\0';
    return p[len] == '|' ? p + len + 1 : nullptr;
}

void clear_account(ClientRecord *client)
{
    client->ucPayState = 0;
    client->ucAccTunState = 0;
    client->ucVipType = 0;
    memset(client->ucExprtData, 0, sizeof client->ucExprtData);
    memset(client->ucSvrCurTime, 0, sizeof client->ucSvrCurTime);
    memset(client->ucPbNetIp, 0, sizeof client->ucPbNetIp);
}

uint32_t parse_login(const char *reply, size_t, ClientRecord *client)
{
    return ZND_ParseUserLoginDataOld(client, reply);
}

uint32_t login_attempt(ClientRecord *client, const char *server, void *)
{
    return ZND_ClientFetchAndParse(client, server, ZND_CLOUD_API_LOGIN, parse_login, client);
}

uint32_t force_offline_attempt(ClientRecord *client, const char *server, void *)
{
    json_object *reply = nullptr;
    uint32_t rc = ZND_ClientTalkToServer(client, server, ZND_CLOUD_API_FORCE_OFFLINE, &reply);
    if (reply)
        json_object_put(reply);
    return rc;
}

} // namespace

uint32_t ZND_ParseUserLoginDataOld(ClientRecord *client, const char *text)
{
    if (!client || !text) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    char field[ZND_LOGIN_FIELD_MAX + 1];
    const char *p = text;
    for (int pos = 0; pos < ZND_LOGIN_FIELD_COUNT && p; pos++) {
        p = next_field(p, field);
        switch (pos) {
        case 0:
            if (field[0] != 'Y') {
                client->ucVipType = 0;
                ZND_DBG("ucVipType: %d", client->ucVipType);
                return ZND_ERR_USER_ACCOUNT;
            }
            client->ucVipType = ZND_VIP_ACCEPTED;
            ZND_DBG("ucVipType: %d", client->ucVipType);
            break;
        case 1:
            ZND_CopyCut(client->ucExprtData, field);
            ZND_DBG("ucExprtData: %s", client->ucExprtData);
            break;
        case 3:
            if (atoi(field) == 100)
                client->ucVipType |= ZND_VIP_TYPE_100;
            ZND_DBG("ucVipType: %d", client->ucVipType);
            break;
        case 5:
            ZND_CopyCut(client->ucSvrCurTime, field);
            ZND_DBG("ucSvrCurTime: %s", client->ucSvrCurTime);
            break;
        case 6:
            client->ucPayState = (uint8_t)atoi(field);
            ZND_DBG("ucPayState: %d", client->ucPayState);
            break;
        case 8:
            ZND_CopyCut(client->ucPbNetIp, field);
            ZND_DBG("ucPbNetIp: %s", client->ucPbNetIp);
            break;
        case 9:
            client->ucAccTunState = (uint8_t)atoi(field);
            ZND_DBG("ucAccTunState: %d", client->ucAccTunState);
            break;
        default:
            break;
        }
    }
    if (client->ucPayState != 0)
        client->ucVipType |= ZND_VIP_PAID;
    return ZND_OK;
}

uint32_t ZND_UserLogin(ClientRecord *client, ZND_BusRequest *req)
{
    (void)req;
    if (!client) {
        ZND_ERROR("the pstClient is NULL");
        return ZND_ERR_COMMON;
    }
    clear_account(client);
    return ZND_CloudServerWalk(login_attempt, client, nullptr);
}

uint32_t ZND_UserForceOfflineAccTunnel(ClientRecord *client, ZND_BusRequest *req)
{
    (void)req;
    if (!client) {
        ZND_ERROR("the pstClient is NULL!!");
        return ZND_ERR_COMMON;
    }
    uint32_t rc = ZND_CloudServerWalk(force_offline_attempt, client, nullptr);
    if (rc == ZND_OK)
        client->ucAccTunState = 0;
    return rc;
}
