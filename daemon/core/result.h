// Result codes: every operation of the daemon returns one; 0 is success.
#pragma once
#include <cstdint>

enum : uint32_t {
    ZND_OK = 0,
    ZND_ERR_ARG = 1,
    ZND_ERR_COMMON = 2,
    ZND_ERR_SERVER_NETWORK = 11,
    ZND_ERR_USER_ACCOUNT = 12,
    ZND_ERR_GID_INVALID = 14,
    ZND_ERR_MAC_USED = 15,
    ZND_ERR_TUNNEL_USED = 16,
    ZND_ERR_MACHINE_STATE = 31,
    ZND_ERR_COMMAND = 32,
    ZND_ERR_NODE_CONFIG = 33,
    ZND_ERR_STATE_REFUSED = 34,
    ZND_ERR_CTRL_COMMAND = 35,
    ZND_ERR_NODE_MATCH = 36,
    ZND_ERR_MALLOC = 51,
    ZND_ERR_IOCTL = 52,
    ZND_ERR_OPEN_FILE = 53,
    ZND_ERR_NETLINK_OPEN = 54,
    ZND_ERR_LOGIN_ROUTE_ADD = 55,
    ZND_ERR_LOGIN_ROUTE_DEL = 56,
    ZND_ERR_TRAFFIC_IFINDEX = 57,
    ZND_ERR_TRAFFIC_ROUTE_ADD = 58,
    ZND_ERR_TRAFFIC_ROUTE_DEL = 59,
    ZND_ERR_GATEWAY = 60,
};

// Constant text of a code; "Unknown error" for codes without one.
const char *ZND_GetErrorText(uint32_t code);
