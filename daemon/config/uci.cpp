// UCI option access: one look-up per call, nothing cached.
#include "config/uci.h"

#include <cstdio>
#include <cstring>
#include <string>
#include "core/log.h"
#include "core/result.h"
#include "core/text_field.h"
#include "platform/uci_store.h"

namespace {

// "package.section.option", cut to 254 characters (the address buffer is 255 bytes).
void compose_address(char (&addr)[255], const char *package, const char *section, const char *option)
{
    snprintf(addr, sizeof addr, "%s.%s.%s", package, section, option);
}

uint32_t get_option(const char *package, const char *section, const char *option, char *out, size_t size,
                    bool secret)
{
    if (!package || !section || !option || !out || size == 0) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    char addr[255];
    compose_address(addr, package, section, option);
    std::string value;
    int status = ZND_UciGet(addr, &value);
    if (status == ZND_UCI_LOOKUP_FAILED) {
        ZND_ERROR("uci lookup ptr failed!!");
        return ZND_ERR_COMMON;
    }
    if (status != ZND_UCI_COMPLETE) {
        ZND_ERROR("This [%s] does not exist!!", addr);
        return ZND_ERR_COMMON;
    }
    ZND_DBG("get the value : {%s}:[%s].", addr, secret ? ZND_LogSecret(value.c_str()) : value.c_str());
    ZND_CopyCut(out, value.c_str(), size - 1);
    return ZND_OK;
}

} // namespace

uint32_t UCI_GetCfgInfo(const char *package, const char *section, const char *option, char *out, size_t size)
{
    return get_option(package, section, option, out, size, false);
}

uint32_t UCI_GetSecretCfgInfo(const char *package, const char *section, const char *option, char *out,
                              size_t size)
{
    return get_option(package, section, option, out, size, true);
}

uint32_t UCI_SetCfgInfo(const char *package, const char *section, const char *option, const char *value)
{
    if (!package || !section || !option || !value) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    char addr[255];
    compose_address(addr, package, section, option);
    int status = ZND_UciSet(addr, value);
    if (status == ZND_UCI_LOOKUP_FAILED) {
        ZND_ERROR("uci lookup ptr failed!!");
        return ZND_ERR_COMMON;
    }
    // A value that was not stored (no such section, or the commit failed) is not a success:
    // the tunnel drivers must not start a service on a configuration that was never written.
    if (status != 0) {
        ZND_ERROR("uci set [%s] failed!!", addr);
        return ZND_ERR_COMMON;
    }
    return ZND_OK;
}
