// The tunnel modes: their driver table, interface names and the daemon-wide counters.
#include "core/context.h"
#include "tunnel/acc_mode.h"
#include "tunnel/tunnel.h"

namespace {

const char *const g_acc_tun_if_names[ZN_ACC_MODE_MAX] = {"", "tun0", "ipsec0", "l2tp-vpn", "pptp-vpn"};

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
