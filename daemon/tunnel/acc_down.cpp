// The stop of acceleration, used by every stop, restart, failure and logout path.
#include "cloud/node_list.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "route/route_sync.h"
#include "tunnel/acc_mode.h"
#include "tunnel/tunnel.h"

namespace {

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
    ZND_DelAllLoginRouteFromKernel();
    ZND_DelAllTrafficRouteFromKernel();
    return result;
}

uint32_t ZND_UserLogout(ClientRecord *client)
{
    uint32_t result = ZND_AccDown(client);
    ZND_NodeTableClear();
    return result;
}
