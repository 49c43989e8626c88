// The node probe: one raw ICMP socket, every node pinged before any wait, so that the node list
// can be ordered by measured round-trip times.
#pragma once
#include <cstdint>
#include "cloud/node.h"

// Pings every node of the table at once, passes times, keeping each node's best time in ping.
// 0, or 2 on a missing table or when the raw socket cannot be opened.
uint32_t Ping_SynPingIpv4(AccNodeServer *table, int passes);
