// The user's account and acceleration settings from the userinfo package, and the device identity.
#include "config/account.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include "config/uci.h"
#include "core/log.h"
#include "core/result.h"
#include "platform/shell.h"

namespace {

void copy_cut(char *dst, const char *src, size_t max_chars)
{
    size_t n = strnlen(src, max_chars);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

// Decimal value of a text; text that is not a number gives 0.
uint32_t decimal(const char *text)
{
    return (uint32_t)atoi(text);
}

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
        copy_cut(client->uname, buf, ZND_UNAME_MAX);
        memset(buf, 0, sizeof buf);
        ret = UCI_GetCfgInfo("userinfo", "1", "historypass", buf, sizeof buf);
        if (ret != ZND_OK)
            ZND_ERROR("Get userinfo.1.upass info failed!!");
        else
            copy_cut(client->upass, buf, ZND_UPASS_MAX);
    }
    ZND_DBG("uname = %s, upass = %s.", client->uname, client->upass);
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
    do {
        memset(buf, 0, sizeof buf);
        ret = UCI_GetCfgInfo("userinfo", "1", "mode", buf, sizeof buf);
        if (ret != ZND_OK) {
            ZND_ERROR("Get userinfo.1.mode info failed!!");
            break;
        }
        client->mode = decimal(buf);

        memset(buf, 0, sizeof buf);
        ret = UCI_GetCfgInfo("userinfo", "1", "node", buf, sizeof buf);
        if (ret != ZND_OK) {
            ZND_ERROR("Get userinfo.1.node info failed!!");
            break;
        }
        client->node = decimal(buf);

        memset(buf, 0, sizeof buf);
        ret = UCI_GetCfgInfo("userinfo", "1", "nodename", buf, sizeof buf);
        if (ret != ZND_OK) {
            ZND_ERROR("Get userinfo.1.nodename info failed!!");
            break;
        }
        copy_cut(client->nodename, buf, ZND_NODENAME_MAX);

        memset(buf, 0, sizeof buf);
        ret = UCI_GetCfgInfo("userinfo", "1", "reconn", buf, sizeof buf);
        if (ret != ZND_OK) {
            ZND_ERROR("Get userinfo.1.reconn info failed!!");
            break;
        }
        client->reconn = decimal(buf);
    } while (0);

    ZND_DBG("mode = %d, node = %d, nodename = %s.", client->mode, client->node, client->nodename);
    return ret;
}

uint32_t ZND_GetMacByIfName(const char *ifname, char *out, size_t size)
{
    if (!ifname) {
        ZND_ERROR("ifName is NULL");
        return ZND_ERR_COMMON;
    }
    char cmd[128];
    snprintf(cmd, sizeof cmd, "ifconfig %s| grep HWaddr| awk '{print $5}'| tr -d ':'| tr -d '\\n'", ifname);
    std::string output;
    if (ZND_ShellRead(cmd, &output) != 0) {
        ZND_ERROR("popen error");
        return ZND_ERR_COMMON;
    }
    // One line of at most 31 characters, as the original 32-byte line buffer held.
    std::string line = output.substr(0, output.find('\n') == std::string::npos ? output.size()
                                                                                : output.find('\n') + 1);
    if (line.size() > 31)
        line.resize(31);
    if (line.empty()) {
        ZND_ERROR("fgets mac error");
        return ZND_ERR_COMMON;
    }
    copy_cut(out, line.c_str(), size - 1);
    return ZND_OK;
}
