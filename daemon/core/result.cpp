#include "core/result.h"

namespace {

const char *const g_texts[61] = {
    /*  0 */ "OK",
    /*  1 */ "Argument is invalid",
    /*  2 */ "Common error",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 11 */ "server network error",
    /* 12 */ "User account invalid",
    nullptr,
    /* 14 */ "request gid invalid",
    /* 15 */ "request device mac is used",
    /* 16 */ "acc tunnel is used",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr,
    /* 31 */ "Machine state error",
    /* 32 */ "Command invalid",
    /* 33 */ "Get acc node config fail",
    /* 34 */ "State machine can't deal this command",
    /* 35 */ "Ctrl command invalid",
    /* 36 */ "Match acc node config fail",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr,
    /* 51 */ "Malloc memory fail",
    /* 52 */ "Ioctl fail",
    /* 53 */ "Open file fail",
    /* 54 */ "open netlink socket fail",
    /* 55 */ "login route table add fail",
    /* 56 */ "login route table del fail",
    /* 57 */ "traffic route ifindex get fail",
    /* 58 */ "traffic route table add fail",
    /* 59 */ "traffic route table del fail",
    /* 60 */ "default gateway get fail",
};

} // namespace

const char *ZND_GetErrorText(uint32_t code)
{
    if (code >= sizeof g_texts / sizeof g_texts[0] || !g_texts[code])
        return "Unknown error";
    return g_texts[code];
}
