// The tunnel modes: their driver table, interface names and the daemon-wide counters; the stop
// of acceleration, used by every stop, restart, failure and logout path; and what the drivers
// share.
#include "tunnel/driver.h"

#include <cerrno>
#include <cstring>
#include "cloud/node_list.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "platform/file.h"
#include "route/route_sync.h"
#include "tunnel/ipsec.h"
#include "tunnel/netifd_vpn.h"
#include "tunnel/openvpn.h"

namespace {

const char *const g_acc_tun_if_names[ZN_ACC_MODE_MAX] = {"", "tun0", "ipsec0", "l2tp-vpn", "pptp-vpn"};

// Automatic mode may have started any kind: stop them all.
uint32_t down_every_mode()
{
    uint32_t result = ZND_ERR_COMMON;
    for (uint32_t mode = 0; mode < ZN_ACC_MODE_MAX; mode++) {
        const ZNACC_ModeOps &row = ZNACC_ModeTable[mode];
        if (row.down && row.down() == ZND_OK) {
            ZND_DBG("for: %s stop ok!", row.name);
            result = ZND_OK;
        }
    }
    return result;
}

uint32_t down_one_mode(uint32_t mode)
{
    const ZNACC_ModeOps &row = ZNACC_ModeTable[mode];
    if (!row.down || row.down() != ZND_OK)
        return ZND_ERR_COMMON;
    ZND_DBG("%s stop ok!", row.name);
    return ZND_OK;
}

} // namespace

const ZNACC_ModeOps ZNACC_ModeTable[ZN_ACC_MODE_MAX] = {
    {ZN_ACC_AUTO, nullptr, nullptr, nullptr, "ZN_ACC_AUTO"},
    {ZN_ACC_OPENVPN, ZNACC_OpenvpnUp, ZNACC_OpenvpnDown, ZNACC_OpenvpnState, "ZN_ACC_OPENVPN"},
    {ZN_ACC_IPSEC, ZNACC_IpsecUp, ZNACC_IpsecDown, ZNACC_IpsecState, "ZN_ACC_IPSEC"},
    {ZN_ACC_L2TP, ZNACC_L2tpUp, ZNACC_L2tpDown, ZNACC_L2tpState, "ZN_ACC_L2TP"},
    {ZN_ACC_PPTP, ZNACC_PptpUp, ZNACC_PptpDown, ZNACC_PptpState, "ZN_ACC_PPTP"},
};

const char *ZND_GetAccTunName(uint32_t index)
{
    if (index < ZN_ACC_OPENVPN || index >= ZN_ACC_MODE_MAX)
        return "unknown";
    return g_acc_tun_if_names[index];
}

uint32_t ZND_GetAccMode()
{
    return g_znd.curAccMode;
}

void ZND_ResetAccDailTimerCount()
{
    g_znd.accDailTimerCount = 0;
}

void ZND_ResetAccReconnCount()
{
    g_znd.accReconnCount = 0;
}

const ZNACC_ModeOps *ZND_AccModeRow(uint32_t mode)
{
    return mode < ZN_ACC_MODE_MAX ? &ZNACC_ModeTable[mode] : nullptr;
}

const char *ZND_AccModeName(uint32_t mode)
{
    return mode < ZN_ACC_MODE_MAX ? ZNACC_ModeTable[mode].name : "unknown";
}

bool ZND_AccModeActive(uint32_t mode)
{
    const ZNACC_ModeOps *row = ZND_AccModeRow(mode);
    return row && row->state && row->state() == 0;
}

uint32_t ZND_AccModeLimit(uint32_t mode)
{
    return mode < ZN_ACC_MODE_MAX ? g_znd.accDailTimerLimit[mode] : 0;
}

uint32_t ZND_AccDown(ClientRecord *)
{
    uint32_t mode = g_znd.curAccMode;
    if (mode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("error acc mode!");
        return ZND_ERR_COMMON;
    }
    if (ZND_TimeoutPending(&g_znd.accTimer)) {
        ZND_DBG("acc timeout cancel !!!");
        ZND_TimeoutCancel(&g_znd.accTimer);
    }
    uint32_t result = mode == ZN_ACC_AUTO ? down_every_mode() : down_one_mode(mode);
    ZND_DBG("AccDown ==>> %s!", ZND_AccModeName(mode));
    ZND_DelAllRouteFromKernel();
    return result;
}

uint32_t ZND_UserLogout(ClientRecord *client)
{
    uint32_t result = ZND_AccDown(client);
    ZND_NodeTableClear();
    return result;
}

bool ZND_HasLineBreak(const char *text)
{
    return text && strpbrk(text, "\r\n") != nullptr;
}

bool ZND_WriteServiceFile(const char *path, const std::string &content, mode_t mode)
{
    if (ZND_FileReplace(path, content, mode))
        return true;
    ZND_ERROR("write %s failed: %s", path, strerror(errno));
    return false;
}
