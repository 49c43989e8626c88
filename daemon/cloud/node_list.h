// The acceleration node list: fetched from the cloud service after login, probed and ordered
// best first in the node table; the selection of the node that the user's settings name.
#pragma once
#include <cstddef>
#include <cstdint>
#include "cloud/node.h"
#include "config/client_record.h"

struct _xmlNode;

// Zeroes the table, fetches the list from the first cloud server that gives one, probes and sorts.
uint32_t ZND_GetAccNodes(ClientRecord *client, AccNodeServer *table);
// One fetch of "/api/cfgcontrol" from one server into the table.
uint32_t ZND_GetNodesFromServerOld(ClientRecord *client, AccNodeServer *table, const char *server);
// Fills the table from a "servers" document (at most ten "server" elements).
uint32_t ZND_ParseAccNodeDataOld(const char *xml, size_t len, AccNodeServer *table);
// Fills one entry from the children of one "server" element.
void ZND_FillNodeCfgInfo(const _xmlNode *server, AccNodeServer *entry);
// Probes every node (five passes) and orders the table best first.
uint32_t ZND_NodeLevelSort(AccNodeServer *table);

// The entry of the node table that the node id (or, failing that, the name) selects; nullptr for
// none.
AccNodeServer *ZND_MatchAccNode(uint32_t id, const char *name);
void ZND_NodeTableClear();

// The ordering of ZND_NodeLevelSort on the pings the table already holds.
#define ZND_NODE_UNANSWERED_MS 999
uint32_t ZND_NodeOrderKey(const AccNodeServer *node);
void ZND_NodeSortByKey(AccNodeServer *table);
