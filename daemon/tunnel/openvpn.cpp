#include "tunnel/openvpn.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include "config/uci.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "core/shell_quote.h"
#include "tunnel/driver.h"
#include "tunnel/probe.h"

namespace {

// The device OpenVPN up recorded in accTun (its name follows the node's device stem), unless
// another kind has taken accTun over since; "tun0" when nothing is recorded.
const char *openvpn_device()
{
    const char *recorded = g_znd.client.accTun;
    if (recorded[0] == '\0')
        return ZND_GetAccTunName(ZN_ACC_OPENVPN);
    for (uint32_t mode = ZN_ACC_IPSEC; mode < ZN_ACC_MODE_MAX; mode++)
        if (strcmp(recorded, ZND_GetAccTunName(mode)) == 0)
            return ZND_GetAccTunName(ZN_ACC_OPENVPN);
    return recorded;
}

// Refuses what must not reach the configuration; logs why.
bool openvpn_inputs_ok(const ClientRecord *client, const AccNodeServer *node, const char *tun)
{
    if (!ZND_IsDottedIpv4(node->cSvrIpv4)) {
        ZND_ERROR("openvpn node address refused: not a dotted IPv4 address");
        return false;
    }
    if (!ZND_IsPlainIfName(node->cOpenVpnDev) || !ZND_IsPlainIfName(tun)) {
        ZND_ERROR("openvpn device name refused");
        return false;
    }
    // The credentials file has one line each for the user name and the password.
    if (ZND_HasLineBreak(client->uname) || ZND_HasLineBreak(client->upass)) {
        ZND_ERROR("openvpn credentials refused: line break");
        return false;
    }
    return true;
}

// OpenVPN is started two seconds after its up, by a background shell. The start only goes ahead
// while the ticket exists, and every stop takes the ticket away first: a start still waiting
// would otherwise bring the tunnel up after the stop, with nothing supervising it.
#define ZND_OPENVPN_START_CMD                                                                     \
    "sleep 2 && [ -e " ZND_PATH_OPENVPN_START_TICKET " ] && " ZND_PATH_INIT_OPENVPN               \
    " start >/dev/null 2>&1 &"

bool issue_start_ticket()
{
    int fd = open(ZND_PATH_OPENVPN_START_TICKET, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        ZND_ERROR("create %s failed: %s", ZND_PATH_OPENVPN_START_TICKET, strerror(errno));
        return false;
    }
    close(fd);
    return true;
}

} // namespace

uint32_t ZNACC_OpenvpnUp(ClientRecord *client, AccNodeServer *node)
{
    if (!client || !node) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    char tun[ZND_ACCTUN_MAX + 1];
    snprintf(tun, sizeof tun, "%s0", node->cOpenVpnDev);
    if (!openvpn_inputs_ok(client, node, tun))
        return ZND_ERR_COMMON;

    char remote[64];
    snprintf(remote, sizeof remote, "%s %u", node->cSvrIpv4, node->ulOpenVpnPort);
    uint32_t rc = UCI_SetCfgInfo("openvpn", "zunaro", "remote", remote);
    rc |= UCI_SetCfgInfo("openvpn", "zunaro", "dev", node->cOpenVpnDev);
    if (rc != ZND_OK) {
        ZND_ERROR("openvpn uci set fail");
        return ZND_ERR_COMMON;
    }
    std::string userpass = std::string(client->uname) + "\n" + client->upass + "\n";
    if (!ZND_WriteServiceFile(ZND_PATH_OPENVPN_USERPASS, userpass, 0600))
        return ZND_ERR_COMMON;
    if (!issue_start_ticket())
        return ZND_ERR_COMMON;
    ZND_System(ZND_OPENVPN_START_CMD);

    snprintf(client->accTun, sizeof client->accTun, "%s", tun);
    ZND_DBG("openvpn up!!");
    return ZND_OK;
}

uint32_t ZNACC_OpenvpnDown()
{
    unlink(ZND_PATH_OPENVPN_START_TICKET);
    ZND_System(ZND_PATH_INIT_OPENVPN " stop >/dev/null 2>&1");
    ZND_DBG("openvpn down!!");
    return ZND_OK;
}

uint32_t ZNACC_OpenvpnState()
{
    if (ZND_IsTunActive(openvpn_device())) {
        ZND_DBG("openvpn tunnel is active");
        return ZND_OK;
    }
    ZND_ERROR("openvpn tunnel is inactive");
    return ZND_ERR_COMMON;
}
