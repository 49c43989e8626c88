// UCI option access: one look-up per call, nothing cached.
#include "config/uci.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
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

enum ZND_UciRead { ZND_UCI_READ_PLAIN, ZND_UCI_READ_SECRET, ZND_UCI_READ_OPTIONAL };

uint32_t get_option(const char *package, const char *section, const char *option, char *out, size_t size,
                    ZND_UciRead how)
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
        if (how != ZND_UCI_READ_OPTIONAL)
            ZND_ERROR("This [%s] does not exist!!", addr);
        return ZND_ERR_COMMON;
    }
    bool secret = how == ZND_UCI_READ_SECRET;
    ZND_DBG("get the value : {%s}:[%s].", addr, secret ? ZND_LogSecret(value.c_str()) : value.c_str());
    ZND_CopyCut(out, value.c_str(), size - 1);
    return ZND_OK;
}

} // namespace

uint32_t UCI_GetCfgInfo(const char *package, const char *section, const char *option, char *out, size_t size)
{
    return get_option(package, section, option, out, size, ZND_UCI_READ_PLAIN);
}

uint32_t UCI_GetSecretCfgInfo(const char *package, const char *section, const char *option, char *out,
                              size_t size)
{
    return get_option(package, section, option, out, size, ZND_UCI_READ_SECRET);
}

uint32_t UCI_GetOptionalCfgInfo(const char *package, const char *section, const char *option, char *out,
                                size_t size)
{
    return get_option(package, section, option, out, size, ZND_UCI_READ_OPTIONAL);
}

uint32_t UCI_GetCfgValues(const char *package, const char *section, const char *option, UCI_Values *out)
{
    if (!package || !section || !option || !out) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    out->count = 0;
    char addr[255];
    compose_address(addr, package, section, option);
    std::vector<std::string> values;
    int status = ZND_UciGetValues(addr, &values);
    if (status == ZND_UCI_LOOKUP_FAILED) {
        ZND_ERROR("uci lookup ptr failed!!");
        return ZND_ERR_COMMON;
    }
    if (status != ZND_UCI_COMPLETE) {
        ZND_ERROR("This [%s] does not exist!!", addr);
        return ZND_ERR_COMMON;
    }
    for (const std::string &v : values) {
        if (out->count == UCI_VALUES_MAX)
            break;
        ZND_DBG("get the value : {%s}:[%s].", addr, v.c_str());
        ZND_CopyCut(out->text[out->count++], v.c_str(), UCI_VALUE_SIZE - 1);
    }
    return ZND_OK;
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
