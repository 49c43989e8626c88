// IPsec (EAP) driver: the identity and peer of the configuration, the secrets file and the init
// script.
#include <cstdio>
#include <cstring>
#include <string>
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "core/shell_quote.h"
#include "tunnel/driver_util.h"
#include "tunnel/ipsec_conf.h"
#include "tunnel/probe.h"
#include "tunnel/tunnel.h"

namespace {

bool ipsec_inputs_ok(const ClientRecord *client, const AccNodeServer *node)
{
    if (!ZND_IsDottedIpv4(node->cSvrIpv4)) {
        ZND_ERROR("ipsec node address refused: not a dotted IPv4 address");
        return false;
    }
    // Both files are line based, and the password is written between double quotes.
    if (ZND_HasLineBreak(client->uname) || ZND_HasLineBreak(client->upass) || strchr(client->upass, '"')) {
        ZND_ERROR("ipsec credentials refused: line break or double quote");
        return false;
    }
    return true;
}

} // namespace

uint32_t ZNACC_IpsecUp(ClientRecord *client, AccNodeServer *node)
{
    if (!client || !node) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    if (!ipsec_inputs_ok(client, node))
        return ZND_ERR_COMMON;
    if (!ZND_IpsecConfSetPeer(ZND_PATH_IPSEC_CONF, client->uname, node->cSvrIpv4))
        return ZND_ERR_COMMON;
    std::string secret = std::string(client->uname) + " : EAP \"" + client->upass + "\"\n";
    if (!ZND_WriteServiceFile(ZND_PATH_IPSEC_SECRETS, secret, 0600))
        return ZND_ERR_COMMON;
    ZND_System(ZND_PATH_INIT_IPSEC " start >/dev/null 2>&1 &");

    snprintf(client->accTun, sizeof client->accTun, "%s", ZND_GetAccTunName(ZN_ACC_IPSEC));
    ZND_DBG("ipsec up!!");
    return ZND_OK;
}

uint32_t ZNACC_IpsecDown()
{
    ZND_System(ZND_PATH_INIT_IPSEC " stop >/dev/null 2>&1");
    ZND_DBG("ipsec down!!");
    return ZND_OK;
}

uint32_t ZNACC_IpsecState()
{
    if (ZND_IsTunActive(ZND_GetAccTunName(ZN_ACC_IPSEC))) {
        ZND_DBG("ipsec tunnel is active");
        return ZND_OK;
    }
    ZND_ERROR("ipsec tunnel is inactive");
    return ZND_ERR_COMMON;
}
