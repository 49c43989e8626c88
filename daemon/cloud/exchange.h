// The exchange with the cloud service: one HTTP POST per request, made by curl through the shell,
// with the reply written to a fixed file and read back; and the walk over the cloud servers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include "config/client_record.h"

struct json_object;

#define ZND_CLOUD_API_LOGIN "/api/softlogin"
#define ZND_CLOUD_API_FORCE_OFFLINE "/api/forceoffline"
#define ZND_CLOUD_API_NODES "/api/cfgcontrol"
#define ZND_CLOUD_API_GAMES "/api/gamelist"

// JSON exchange: on 0 *reply is the parsed reply (the caller releases it), otherwise nullptr.
uint32_t ZND_ClientTalkToServer(ClientRecord *client, const char *server, const char *api, json_object **reply);
// Raw exchange: on 0 *reply holds *len bytes plus a terminating zero (the caller frees it with
// free()); otherwise *reply is nullptr and *len 0.
uint32_t ZND_ClientTalkToServerOld(ClientRecord *client, const char *server, const char *api, char **reply,
                                   size_t *len);

// Raw exchange whose reply, when one came, is parsed into target and freed: the parser's result,
// or the exchange's when no reply came.
template <typename Target>
uint32_t ZND_ClientFetchAndParse(ClientRecord *client, const char *server, const char *api,
                                 uint32_t (*parse)(const char *reply, size_t len, Target *target), Target *target)
{
    char *reply = nullptr;
    size_t len = 0;
    uint32_t rc = ZND_ClientTalkToServerOld(client, server, api, &reply, &len);
    if (!reply)
        return rc;
    rc = parse(reply, len, target);
    free(reply);
    return rc;
}

// One attempt for client against one server; returns a result code.
typedef uint32_t (*ZND_CloudAttempt)(ClientRecord *client, const char *server, void *arg);
// Tries the servers of g_znd.cloudServers in order, from the one whose attempt returned 0 last and
// round the list, until an attempt returns 0; otherwise the result of the last attempt (2 when the
// list is empty).
uint32_t ZND_CloudServerWalk(ZND_CloudAttempt attempt, ClientRecord *client, void *arg);
