// The user's account and acceleration settings from the userinfo package, and the device identity.
#include "config/account.h"

#include <cstdint>
#include <cstring>
#include <string>
#include "config/uci.h"
#include "core/decimal.h"
#include "core/log.h"
#include "core/result.h"
#include "core/shell_quote.h"
#include "core/text_field.h"
#include "platform/shell.h"

namespace {

// The settings in the order they are read; the first that fails ends the reading. A number that
// does not fit its field leaves the setting as it was: 0 would be a choice of its own.
struct SettingField {
    const char *option;
    void (*apply)(ClientRecord *client, const char *text);
};

const SettingField kSettingFields[] = {
    {"mode", [](ClientRecord *c, const char *t) { c->mode = ZND_DecimalU32Or(t, c->mode); }},
    {"node", [](ClientRecord *c, const char *t) { c->node = ZND_DecimalU32Or(t, c->node); }},
    {"nodename", [](ClientRecord *c, const char *t) { ZND_CopyCut(c->nodename, t); }},
    {"reconn", [](ClientRecord *c, const char *t) { c->reconn = ZND_DecimalU32Or(t, c->reconn); }},
};

} // namespace

uint32_t CFGI_ReadUserAccountInfo(ClientRecord *client)
{
    if (!client) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    char buf[512] = {};
    uint32_t ret = UCI_GetCfgInfo("userinfo", "1", "historyname", buf, sizeof buf);
    if (ret != ZND_OK) {
        ZND_ERROR("Get userinfo.1.uname info failed!!");
    } else {
        ZND_CopyCut(client->uname, buf);
        memset(buf, 0, sizeof buf);
        ret = UCI_GetSecretCfgInfo("userinfo", "1", "historypass", buf, sizeof buf);
        if (ret != ZND_OK)
            ZND_ERROR("Get userinfo.1.upass info failed!!");
        else
            ZND_CopyCut(client->upass, buf);
    }
    ZND_DBG("uname = %s, upass = %s.", client->uname, ZND_LogSecret(client->upass));
    return ret;
}

uint32_t CFGI_ReadUserAccSetting(ClientRecord *client)
{
    if (!client) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    client->ucVipType = 0;
    client->ucAccTunState = 0;
    client->gid = ZND_GAME_ID;

    uint32_t ret = ZND_GetMacByIfName("eth1", client->mad, sizeof client->mad);
    if (ret != ZND_OK)
        return ret;

    char buf[64];
    for (const SettingField &f : kSettingFields) {
        memset(buf, 0, sizeof buf);
        ret = UCI_GetCfgInfo("userinfo", "1", f.option, buf, sizeof buf);
        if (ret != ZND_OK) {
            ZND_ERROR("Get userinfo.1.%s info failed!!", f.option);
            break;
        }
        f.apply(client, buf);
    }

    ZND_DBG("mode = %d, node = %d, nodename = %s.", client->mode, client->node, client->nodename);
    return ret;
}

uint32_t ZND_GetMacByIfName(const char *ifname, char *out, size_t size)
{
    if (!ifname) {
        ZND_ERROR("ifName is NULL");
        return ZND_ERR_COMMON;
    }
    if (!out || size == 0) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    if (!ZND_IsPlainIfName(ifname)) {
        ZND_ERROR("ifName [%s] is invalid", ifname);
        return ZND_ERR_COMMON;
    }
    char cmd[128];
    snprintf(cmd, sizeof cmd, "ifconfig %s| grep HWaddr| awk '{print $5}'| tr -d ':'| tr -d '\\n'", ifname);
    std::string output;
    if (ZND_ShellRead(cmd, &output) != 0) {
        ZND_ERROR("popen error");
        return ZND_ERR_COMMON;
    }
    // One line of at most 31 characters: the line buffer of the MAC look-up is 32 bytes.
    size_t eol = output.find('\n');
    std::string line = output.substr(0, eol == std::string::npos ? eol : eol + 1);
    if (line.size() > 31)
        line.resize(31);
    if (line.empty()) {
        ZND_ERROR("fgets mac error");
        return ZND_ERR_COMMON;
    }
    ZND_CopyCut(out, line.c_str(), size - 1);
    return ZND_OK;
}
