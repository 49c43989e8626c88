// The node table and the selection of the node that the user's settings name.
#include "cloud/node.h"

#include <cstring>
#include "core/context.h"

void ZND_NodeTableClear()
{
    memset(g_znd.nodes, 0, sizeof g_znd.nodes);
}

AccNodeServer *ZND_MatchAccNode(uint32_t id, const char *name)
{
    AccNodeServer *table = g_znd.nodes;
    if (id == 0)
        return &table[0];
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++)
        if (table[i].id != 0 && table[i].id == id)
            return &table[i];
    if (!name)
        return nullptr;
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++)
        if (table[i].cSvrName[0] != '\0' && strcmp(table[i].cSvrName, name) == 0)
            return &table[i];
    return &table[0];
}
