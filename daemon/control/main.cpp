// zunarod: start-up in a fixed order, the event loop, and teardown.
#include <csignal>
#include <cstring>
#include "cloud/node_list.h"
#include "config/account.h"
#include "control/restore.h"
#include "control/rpc.h"
#include "control/state.h"
#include "core/context.h"
#include "core/log.h"
#include "core/timer.h"
#include "discovery/listen.h"
#include "route/route_sync.h"

namespace {

// The client record and the node table at start and end of the daemon.
void ZND_ClientInit()
{
    memset(&g_znd.client, 0, sizeof g_znd.client);
    ZND_NodeTableClear();
    CFGI_ReadUserAccountInfo(&g_znd.client);
    CFGI_ReadUserAccSetting(&g_znd.client);
    ZND_INFO("user init ok");
}

void ZND_ClientDeinit()
{
    memset(&g_znd.client, 0, sizeof g_znd.client);
    ZND_NodeTableClear();
}

} // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);

    if (ZND_LoopInit() != 0) {
        ZND_ERROR("uloop init fail");
        ZND_KEYLOG("loop init fail");
        return 2;
    }
    ZND_StateInit();
    ZND_UbusInit();
    ZND_ClientInit();
    ZND_LocalRouteTabInit();
    ZND_NotifyListenInit();
    ZND_SetTimer(&g_znd.restoreTimer, ZND_AbnormalRestoreTimerHandler, 1000);
    ZND_KEYLOG("init success");

    ZND_LoopRun();

    // Tunnels, kernel routes and policy rules stay as they are: the next start adopts them.
    ZND_UbusDeinit();
    ZND_ClientDeinit();
    ZND_LocalRouteTabDeinit();
    ZND_LoopDone();
    return 0;
}
