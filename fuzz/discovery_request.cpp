// A datagram to the discovery port 7167, through the daemon's own socket and callback (in the
// sandbox's network namespace, on loopback). A discovery request (a JSON object whose integer
// "code" is 5, in fewer than 1024 bytes) gets exactly one reply on port 7168 of the sender: the
// JSON object with code 6; anything else gets none.
#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <json-c/json.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include "core/context.h"
#include "discovery/listen.h"
#include "fuzz_env.h"
#include "harness/sandbox.h"
#include "platform/loop.h"

namespace {

int g_client = -1;   // the requester: 127.0.0.1:7168, where replies arrive

bool is_request(const uint8_t *data, size_t size)
{
    if (size == 0 || size >= 1024)
        return false;
    json_object *doc = json_tokener_parse(ZND_FuzzText(data, size).c_str());
    json_object *code = nullptr;
    bool yes = json_object_is_type(doc, json_type_object) && json_object_object_get_ex(doc, "code", &code) &&
               json_object_is_type(code, json_type_int) && json_object_get_int64(code) == 5;
    json_object_put(doc);
    return yes;
}

void check_reply(const char *reply, size_t len, const std::string &input)
{
    std::string text(reply, len);
    json_object *doc = json_tokener_parse(text.c_str());
    json_object *code = nullptr, *data = nullptr, *host = nullptr;
    bool ok = text.size() == len && json_object_is_type(doc, json_type_object) &&
              json_object_object_get_ex(doc, "code", &code) && json_object_get_int(code) == 6 &&
              json_object_object_get_ex(doc, "data", &data) && json_object_object_get_ex(data, "host", &host) &&
              strcmp(json_object_get_string(host), "127.0.0.1") == 0;
    json_object_put(doc);
    ZND_FUZZ_CHECK(ok, "reply: " + text + "\nrequest: " + input);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ZND_FuzzEnterSandbox();
    ZND_FuzzQuietLog();
    // The LAN is loopback: requests from 127.0.0.1 are answered with the LAN address.
    ZND_TestWriteFile("/etc/config/network", "config interface 'lan'\n\toption ipaddr '127.0.0.1'\n"
                                             "\toption netmask '255.0.0.0'\n\n"
                                             "config interface 'wan'\n\toption ifname 'lo'\n"
                                             "\toption macaddr '02:5a:4e:00:00:02'\n");
    ZND_TestWriteFile("/etc/config/wireless", "config wifi-iface 'wifi'\n\toption ssid 'zunaro \"fuzz\"'\n");
    if (ZND_LoopInit() != 0)
        abort();
    ZND_NotifyListenInit();

    g_client = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int big = 1 << 20;
    setsockopt(g_client, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    struct sockaddr_in me = {};
    me.sin_family = AF_INET;
    me.sin_port = htons(7168);
    me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(g_client, (struct sockaddr *)&me, sizeof me) != 0)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(7167);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(g_client, data, size, 0, (struct sockaddr *)&to, sizeof to) != (ssize_t)size)
        return 0;   // larger than a datagram can be
    Notify_Broadcast_cb(&g_znd.broadcastWatcher, ZND_FD_READ);

    // Loopback delivers at once: whatever the daemon sent is already queued.
    char reply[2048];
    ssize_t n = recv(g_client, reply, sizeof reply, MSG_DONTWAIT);
    bool want = is_request(data, size);
    ZND_FUZZ_CHECK(want == (n > 0), std::string(want ? "no reply" : "unexpected reply") + "\nrequest: " + input);
    if (n > 0) {
        check_reply(reply, (size_t)n, input);
        ZND_FUZZ_CHECK(recv(g_client, reply, sizeof reply, MSG_DONTWAIT) < 0, "second reply\n" + input);
    }
    return 0;
}
