// Cloud exchange over curl. The request is composed here, run through ZND_SystemInput with the
// credentials on curl's standard input, and the reply file read back whole. Values that come from
// the user or the service are never trusted by the shell: each sits alone between single quotes
// with every quote in it escaped.
#include "cloud/exchange.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <json-c/json.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include "core/context.h"
#include "core/json.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "core/shell_quote.h"

#define ZND_CURL_PREFIX "curl -s -m 10 --retry 3 --retry-max-time 3"
#define ZND_CLOUD_API_TOKEN "3f7a1c9e5b2d4086a1e3c5f7092b4d6e"

namespace {

// What curl may write of one reply, and what is read back: the reply is read whole and parsed
// whole, so a broken or hostile service must not be able to fill the router's memory. A node list
// of ten nodes or a login reply is a few kilobytes; a game list of tens of thousands of routes
// stays within the larger limit.
const size_t kReplyMax = 256u << 10;
const size_t kGameListMax = 4u << 20;

size_t reply_max(const char *api)
{
    return strcmp(api, ZND_CLOUD_API_GAMES) == 0 ? kGameListMax : kReplyMax;
}

// Why curl failed, from its exit status; the result stays 11 whatever the reason.
const char *curl_failure(int code)
{
    switch (code) {
    case 1: return "protocol not supported by this curl";
    case 6: return "server name not resolved";
    case 7: return "server not reachable";
    case 18: case 56: return "reply cut off";
    case 23: return "reply not written to " ZND_PATH_SERVER_REPLY " (file system full or not writable)";
    case 28: return "no answer in time";
    case 35: return "TLS handshake failed";
    case 51: return "server certificate not for this name";
    case 52: return "server sent nothing";
    case 60: return "server certificate not verified (unknown CA, expired or not for this name)";
    case 63: return "reply larger than the limit";
    case 77: return "CA bundle not readable";
    case 127: return "curl not found";
    default: return "see curl's exit status";
    }
}

// Why curl's reply file cannot be read, when it is missing or empty; on a router it lives in
// RAM, and a full /var leaves no reply where the network was fine.
void log_reply_file_cause()
{
    struct stat st;
    if (stat(ZND_PATH_SERVER_REPLY, &st) != 0)
        ZND_ERROR("reply file %s: %s", ZND_PATH_SERVER_REPLY, strerror(errno));
    else if (st.st_size == 0)
        ZND_ERROR("reply file %s: empty", ZND_PATH_SERVER_REPLY);
}

// The curl command line of one request around the option that carries the credentials. Every
// value is single-quoted so that the shell passes it as one argument.
std::string compose(const std::string &credentials, const char *server, const char *api, const char *body)
{
    std::string cmd = ZND_CURL_PREFIX " " + credentials + " -d '";
    cmd += ZND_ShellEscapeSingle(body);
    cmd += "' '";
    cmd += ZND_ShellEscapeSingle(server);
    cmd += ZND_ShellEscapeSingle(api);
    cmd += "' -o '" ZND_PATH_SERVER_REPLY "'";
    return cmd;
}

// Appends text as the inside of a double-quoted value of curl's configuration, where a backslash
// starts an escape. Line breaks are escaped too, so that the value stays on its line.
void append_curl_quoted(std::string *line, const char *text)
{
    for (const char *p = text; *p; p++) {
        switch (*p) {
        case '\\': *line += "\\\\"; break;
        case '"': *line += "\\\""; break;
        case '\n': *line += "\\n"; break;
        case '\r': *line += "\\r"; break;
        case '\t': *line += "\\t"; break;
        case '\v': *line += "\\v"; break;
        default: *line += *p;
        }
    }
}

// The credentials as curl's configuration, read by curl from its standard input ("-K -"): on its
// command line the password could be read by any process on the router for as long as curl runs.
// curl sends them exactly as it would those of "-u USER:PASSWORD".
std::string curl_config(const ClientRecord *client, size_t max_size)
{
    std::string config = "user = \"";
    append_curl_quoted(&config, client->uname);
    config += ':';
    append_curl_quoted(&config, client->upass);
    config += "\"\nmax-filesize = " + std::to_string(max_size) + "\n";
    return config;
}

// Removes the previous reply and runs the request; 0 or 11. The log shows the request the way it
// was always shown, with "-u" and the password as "***".
uint32_t run_request(const ClientRecord *client, const char *server, const char *api, const char *body)
{
    ZND_System("rm -rf " ZND_PATH_SERVER_REPLY);
    std::string cmd = compose("-K -", server, api, body);
    std::string shown = compose(std::string("-u '") + ZND_ShellEscapeSingle(client->uname) + ':' +
                                    ZND_LogSecret(client->upass) + "'",
                                server, api, body);
    ZND_INFO("talk to server cmd: %s", shown.c_str());
    int status = ZND_SystemInput(cmd.c_str(), curl_config(client, reply_max(api)).c_str());
    if (status != 0) {
        // The password stays out of syslog here as well.
        ZND_ERROR("tolk server cmd(%s) execute failed, network error!", shown.c_str());
        int code = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ZND_ERROR("server %s: curl exit %d: %s", server, code, curl_failure(code));
        ZND_KEYLOG("connect to server failed, network error, code: %d", ZND_ERR_SERVER_NETWORK);
        return ZND_ERR_SERVER_NETWORK;
    }
    return ZND_OK;
}

uint32_t read_reply_file(size_t max_size, char **reply, size_t *len)
{
    FILE *fp = fopen(ZND_PATH_SERVER_REPLY, "rb");
    if (!fp) {
        ZND_ERROR("open %s file failed!", ZND_PATH_SERVER_REPLY);
        log_reply_file_cause();
        return ZND_ERR_OPEN_FILE;
    }
    uint32_t rc = ZND_OK;
    long size = fseek(fp, 0, SEEK_END) == 0 ? ftell(fp) : -1;
    char *buf = nullptr;
    if (size <= 0) {
        ZND_ERROR("Get file size failed!");
        log_reply_file_cause();
        rc = ZND_ERR_COMMON;
    } else if ((size_t)size > max_size) {
        // curl keeps to the limit only when the size is announced.
        ZND_ERROR("server reply of %lld bytes is over the limit of %zu, not read", (long long)size, max_size);
        rc = ZND_ERR_COMMON;
    } else if (fseek(fp, 0, SEEK_SET) != 0 || !(buf = static_cast<char *>(malloc((size_t)size + 1)))) {
        ZND_ERROR("malloc failed!");
        rc = ZND_ERR_MALLOC;
    } else {
        size_t n = fread(buf, 1, (size_t)size, fp);
        if (n == 0) {
            ZND_ERROR("read server response info failed!");
            free(buf);
            rc = ZND_ERR_COMMON;
        } else {
            buf[n] = '\0';
            *reply = buf;
            *len = n;
        }
    }
    fclose(fp);
    return rc;
}

} // namespace

uint32_t ZND_ClientTalkToServer(ClientRecord *client, const char *server, const char *api, json_object **reply)
{
    if (reply)
        *reply = nullptr;
    if (!client || !server || !api || !reply) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    char body[64];
    snprintf(body, sizeof body, "mad=%s&gid=%d", client->mad, (int)client->gid);
    uint32_t rc = run_request(client, server, api, body);
    if (rc != ZND_OK)
        return rc;

    struct stat st;
    bool over = stat(ZND_PATH_SERVER_REPLY, &st) == 0 && (size_t)st.st_size > reply_max(api);
    if (over)
        ZND_ERROR("server reply of %lld bytes is over the limit of %zu, not read", (long long)st.st_size,
                  reply_max(api));
    json_object *obj = over ? nullptr : json_object_from_file(ZND_PATH_SERVER_REPLY);
    if (!obj) {
        ZND_ERROR("server response file %s parse failed!", ZND_PATH_SERVER_REPLY);
        if (!over)
            log_reply_file_cause();
        return ZND_ERR_OPEN_FILE;
    }
    rc = CFGI_JsonRespCodeVerify(obj);
    if (rc != ZND_OK) {
        ZND_ERROR("server response code verfiy failed!");
        json_object_put(obj);
        return rc;
    }
    *reply = obj;
    return ZND_OK;
}

uint32_t ZND_ClientTalkToServerOld(ClientRecord *client, const char *server, const char *api, char **reply,
                                   size_t *len)
{
    if (reply)
        *reply = nullptr;
    if (len)
        *len = 0;
    if (!client || !server || !api || !reply || !len) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    char body[64];
    snprintf(body, sizeof body, "token=" ZND_CLOUD_API_TOKEN "&gid=%d", (int)client->gid);
    uint32_t rc = run_request(client, server, api, body);
    if (rc != ZND_OK)
        return rc;
    return read_reply_file(reply_max(api), reply, len);
}

uint32_t ZND_CloudServerWalk(ZND_CloudAttempt attempt, ClientRecord *client, void *arg)
{
    int count = 0;
    while (count < ZND_CLOUD_SERVER_COUNT && g_znd.cloudServers[count])
        count++;
    // From the server that answered last: each server that is down would cost its time-out on
    // every request of an operation (a Login makes three).
    uint32_t first = count > 0 ? g_znd.cloudServerLast % (uint32_t)count : 0;
    uint32_t rc = ZND_ERR_COMMON;
    for (int k = 0; k < count; k++) {
        uint32_t i = (first + (uint32_t)k) % (uint32_t)count;
        rc = attempt(client, g_znd.cloudServers[i], arg);
        if (rc == ZND_OK) {
            g_znd.cloudServerLast = i;
            break;
        }
    }
    return rc;
}
