#include "control/client.h"

#include <cstring>
#include "cloud/node_list.h"
#include "config/account.h"
#include "core/context.h"
#include "core/log.h"

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
