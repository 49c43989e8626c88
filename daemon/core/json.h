// JSON helpers shared by the cloud replies and the local route list files.
#pragma once
#include <cstdint>

struct json_object;

// The member of obj under key, or nullptr when obj has no such member.
json_object *ZND_JsonGetMember(json_object *obj, const char *key);
// Result code from the reply's "code" member.
uint32_t CFGI_JsonRespCodeVerify(json_object *obj);
