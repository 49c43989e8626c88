#include "core/json.h"

#include <json-c/json.h>
#include "core/log.h"
#include "core/result.h"

json_object *ZND_JsonGetMember(json_object *obj, const char *key)
{
    json_object *member = nullptr;
    if (!obj || !key || !json_object_object_get_ex(obj, key, &member))
        return nullptr;
    return member;
}

uint32_t CFGI_JsonRespCodeVerify(json_object *obj)
{
    json_object *code = ZND_JsonGetMember(obj, "code");
    if (!code) {
        ZND_ERROR("get code failed!");
        return ZND_ERR_COMMON;
    }
    switch (json_object_get_int(code)) {
    case 0:
        return ZND_OK;
    case 1:
        ZND_ERROR("http request gid invalide");
        return ZND_ERR_GID_INVALID;
    case 2:
        ZND_ERROR("http request mas is used");
        return ZND_ERR_MAC_USED;
    case 3:
        ZND_ERROR("http requese user account invalide");
        return ZND_ERR_USER_ACCOUNT;
    default:
        ZND_ERROR("response code value error");
        return ZND_ERR_COMMON;
    }
}
