// Tunnel kinds and their driver table, the stop of acceleration, and the checks and file writes
// that the drivers share.
#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>
#include "cloud/node.h"
#include "config/client_record.h"

enum : uint32_t {
    ZN_ACC_AUTO = 0,
    ZN_ACC_OPENVPN = 1,
    ZN_ACC_IPSEC = 2,
    ZN_ACC_L2TP = 3,
    ZN_ACC_PPTP = 4,
    ZN_ACC_MODE_MAX = 5,
};

struct ZNACC_ModeOps {
    uint8_t mode;
    uint32_t (*up)(ClientRecord *client, AccNodeServer *node);
    uint32_t (*down)();
    uint32_t (*state)();
    const char *name;
};

extern const ZNACC_ModeOps ZNACC_ModeTable[ZN_ACC_MODE_MAX];

const char *ZND_GetAccTunName(uint32_t index);
uint32_t ZND_GetAccMode();
void ZND_ResetAccDailTimerCount();
void ZND_ResetAccReconnCount();

uint32_t ZND_AccDown(ClientRecord *client);
uint32_t ZND_UserLogout(ClientRecord *client);

// The row of mode, nullptr for a mode of 5 or more.
const ZNACC_ModeOps *ZND_AccModeRow(uint32_t mode);
// The name text of mode, "unknown" for a mode of 5 or more.
const char *ZND_AccModeName(uint32_t mode);
// The row's state operation says the tunnel is active (false without a row or an operation).
bool ZND_AccModeActive(uint32_t mode);
// The dial-check and restart limit of mode, 0 for a mode of 5 or more.
uint32_t ZND_AccModeLimit(uint32_t mode);

// Node addresses come from the cloud and credentials from the user: the drivers check them before
// anything is configured, and the files that carry them are written directly, never through a
// shell.
// True when text holds a line feed or carriage return, which would split a line-based file.
bool ZND_HasLineBreak(const char *text);
// Replaces a file that a tunnel service reads, atomically; logs and returns false on failure,
// leaving the file as it was.
bool ZND_WriteServiceFile(const char *path, const std::string &content, mode_t mode);
