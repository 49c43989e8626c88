// A tunnel that carries traffic: route installation, and the check that finds one already online.
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "route/route_sync.h"
#include "tunnel/acc.h"
#include "tunnel/acc_mode.h"
#include "tunnel/tunnel.h"

namespace {

ZND_AccReportFn g_report = nullptr;

} // namespace

void ZND_AccSetReport(ZND_AccReportFn fn)
{
    g_report = fn;
}

void ZND_AccReport(ZND_AccOutcome outcome)
{
    if (g_report)
        g_report(outcome);
}

uint32_t ZND_AccOkTodo()
{
    ZND_DelAllLoginRouteFromKernel();
    ZND_DelAllTrafficRouteFromKernel();
    uint32_t rc = ZND_AddAllLoginRouteToKernel(&g_znd.client, ZND_GetLoginRouteSet());
    if (rc == ZND_OK)
        rc = ZND_AddAllTrafficRouteToKernel(&g_znd.client, ZND_GetTrafficRouteSet());
    if (rc == ZND_OK) {
        ZND_INFO("login route table and traffic route table add ok");
        ZND_AccReport(ZND_ACC_DIALED);
        return ZND_OK;
    }
    ZND_DBG("add route fail!, goto set status ...");
    ZND_DelAllLoginRouteFromKernel();
    ZND_DelAllTrafficRouteFromKernel();
    ZND_KEYLOG("acc failed by route");
    ZND_AccReport(ZND_ACC_FAILED);
    return ZND_OK;
}

uint32_t ZND_AccStatCheck(ClientRecord *, void *)
{
    uint32_t mode = g_znd.curAccMode;
    if (mode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("error acc mode!");
        return ZND_ERR_COMMON;
    }
    uint32_t result = ZND_ERR_COMMON;
    if (mode == ZN_ACC_AUTO) {
        for (uint32_t m = 0; m < ZN_ACC_MODE_MAX; m++) {
            if (ZND_AccModeActive(m)) {
                ZND_DBG("%s acc online!", ZND_AccModeName(m));
                g_znd.curAccMode = m;
                result = ZND_OK;
                break;
            }
        }
    } else if (ZND_AccModeActive(mode)) {
        ZND_DBG("%s acc online!", ZND_AccModeName(mode));
        result = ZND_OK;
    }
    ZND_DBG("Acc online ==>> %s!", ZND_AccModeName(g_znd.curAccMode));
    return result;
}
