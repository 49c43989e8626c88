// zunarod: start-up in a fixed order, the event loop, and teardown.
#include <csignal>
#include "core/client.h"
#include "core/log.h"
#include "platform/loop.h"
#include "route/route_sync.h"

int main()
{
    signal(SIGPIPE, SIG_IGN);

    if (ZND_LoopInit() != 0) {
        ZND_ERROR("uloop init fail");
        ZND_KEYLOG("loop init fail");
        return 2;
    }
    ZND_ClientInit();
    ZND_LocalRouteTabInit();
    ZND_KEYLOG("init success");

    ZND_LoopRun();

    ZND_ClientDeinit();
    ZND_LocalRouteTabDeinit();
    ZND_LoopDone();
    return 0;
}
