// Both kinds differ only in the texts of their row below.
#include "tunnel/netifd_vpn.h"

#include <cstdio>
#include "config/uci.h"
#include "core/log.h"
#include "core/result.h"
#include "core/shell_quote.h"
#include "tunnel/driver.h"
#include "tunnel/probe.h"

namespace {

struct VpnKind {
    uint32_t mode;
    const char *proto;
    const char *uci_fail;
    const char *up_text;
    const char *down_text;
    const char *active_text;
    const char *inactive_text;
};

const VpnKind kL2tp = {ZN_ACC_L2TP, "l2tp", "L2tp uci set fail", "L2tp UP!!", "L2tp DOWN!!",
                       "l2tp tunnel is active", "l2tp tunnel is inactive"};
const VpnKind kPptp = {ZN_ACC_PPTP, "pptp", "pptp uci set fail", "pptp UP!!", "pptp DOWN!!",
                       "pptp tunnel is active", "pptp tunnel is inactive"};

uint32_t vpn_up(const VpnKind &kind, ClientRecord *client, AccNodeServer *node)
{
    if (!client || !node) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    if (!ZND_IsDottedIpv4(node->cSvrIpv4)) {
        ZND_ERROR("%s node address refused: not a dotted IPv4 address", kind.proto);
        return ZND_ERR_COMMON;
    }
    if (ZND_HasLineBreak(client->uname) || ZND_HasLineBreak(client->upass)) {
        ZND_ERROR("%s credentials refused: line break", kind.proto);
        return ZND_ERR_COMMON;
    }
    // All five are attempted even after a failure; what was stored is overwritten by the next dial.
    uint32_t rc = UCI_SetCfgInfo("network", "vpn", "proto", kind.proto);
    rc |= UCI_SetCfgInfo("network", "vpn", "username", client->uname);
    rc |= UCI_SetCfgInfo("network", "vpn", "password", client->upass);
    rc |= UCI_SetCfgInfo("network", "vpn", "server", node->cSvrIpv4);
    rc |= UCI_SetCfgInfo("network", "vpn", "auto", "0");
    if (rc != ZND_OK) {
        ZND_ERROR("%s", kind.uci_fail);
        return ZND_ERR_COMMON;
    }
    ZND_System("ifup -w vpn >/dev/null 2>&1 &");
    snprintf(client->accTun, sizeof client->accTun, "%s", ZND_GetAccTunName(kind.mode));
    ZND_DBG("%s", kind.up_text);
    return ZND_OK;
}

uint32_t vpn_down(const VpnKind &kind)
{
    ZND_System("ifdown vpn >/dev/null 2>&1");
    ZND_DBG("%s", kind.down_text);
    return ZND_OK;
}

uint32_t vpn_state(const VpnKind &kind)
{
    if (ZND_IsTunActive(ZND_GetAccTunName(kind.mode))) {
        ZND_DBG("%s", kind.active_text);
        return ZND_OK;
    }
    ZND_ERROR("%s", kind.inactive_text);
    return ZND_ERR_COMMON;
}

} // namespace

uint32_t ZNACC_L2tpUp(ClientRecord *client, AccNodeServer *node)
{
    return vpn_up(kL2tp, client, node);
}

uint32_t ZNACC_L2tpDown()
{
    return vpn_down(kL2tp);
}

uint32_t ZNACC_L2tpState()
{
    return vpn_state(kL2tp);
}

uint32_t ZNACC_PptpUp(ClientRecord *client, AccNodeServer *node)
{
    return vpn_up(kPptp, client, node);
}

uint32_t ZNACC_PptpDown()
{
    return vpn_down(kPptp);
}

uint32_t ZNACC_PptpState()
{
    return vpn_state(kPptp);
}
