#include "control_fixture.h"

#include <arpa/inet.h>
#include <cstring>
#include <json-c/json.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include "cloud/node.h"
#include "control/state.h"
#include "core/context.h"
#include "core/paths.h"
#include "harness/bus_json.h"
#include "harness/context_reset.h"
#include "harness/sandbox.h"
#include "platform/bus.h"

namespace control_test {

namespace {

void write_configs()
{
    ZND_TestWriteFile("/etc/config/network", "config interface 'lan'\n\toption ipaddr '127.0.0.1'\n"
                                             "\toption netmask '255.0.0.0'\n\n"
                                             "config interface 'vpn'\n\toption proto 'none'\n");
    ZND_TestWriteFile("/etc/config/openvpn", "config openvpn 'zunaro'\n\toption enabled '1'\n");
    ZND_TestWriteFile(ZND_PATH_IPSEC_CONF, "conn zunaro\n\teap_identity=x\n\tright=0.0.0.0\n");
}

int notify_socket()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(7168);
    if (bind(fd, (struct sockaddr *)&sin, sizeof sin) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::vector<std::string> Items(ZND_RouteHash *set)
{
    return SetContents(set);
}

void ControlTest::SetUp()
{
    ZND_ContextReset();
    ZND_RouteHashInit(ZND_GetLoginRouteSet());
    ZND_RouteHashInit(ZND_GetTrafficRouteSet());
    SetLoginRoutes({"10.0.0.0:255.0.0.0"});
    ZND_RouteEntry e;
    ZND_RouteEntryFromItem(&e, "10.20.0.0:255.255.0.0");
    ZND_RouteHashAdd(ZND_GetTrafficRouteSet(), &e);

    write_configs();
    ASSERT_EQ(0, ZND_TestSh("ip link add tun0 type veth peer name tun0p && "
                            "ip link add pptp-vpn type veth peer name pptp-vpnp"));
    notify_fd = notify_socket();
    ASSERT_GE(notify_fd, 0);

    sh.On("ifconfig eth1", 0, "02005E102030");
    sh.On("ip route", 0, "default via 192.0.2.1 dev eth0 \n");
    sh.On("ping ", 0);
    sh.On("curl ", 0, "", [this](const std::string &cmd) {
        const std::string *body = nullptr;
        if (cmd.find("/api/softlogin") != std::string::npos)
            body = &cloud.login;
        else if (cmd.find("/api/cfgcontrol") != std::string::npos)
            body = &cloud.nodes;
        else if (cmd.find("/api/gamelist") != std::string::npos)
            body = &cloud.games;
        else if (cmd.find("/api/forceoffline") != std::string::npos)
            body = &cloud.force_offline;
        if (body)
            ZND_TestWriteFile(ZND_PATH_SERVER_REPLY, *body);
    });
}

void ControlTest::TearDown()
{
    if (notify_fd >= 0)
        close(notify_fd);
    ZND_ContextReset();
}

namespace {

template <typename Fn> uint32_t with_slots(std::initializer_list<const char *> params, std::string *out, Fn fn)
{
    const char *slots[ZND_PARAM_SLOTS] = {};
    size_t i = 0;
    for (const char *p : params)
        slots[i++] = p;
    ZND_BusBuf buf;
    ZND_BusBufInit(&buf);
    uint32_t code = fn(slots, &buf);
    *out = ZND_TestBusJson(ZND_BusBufMsg(&buf));
    ZND_BusBufFree(&buf);
    return code;
}

} // namespace

uint32_t ControlTest::Send(uint32_t id, std::initializer_list<const char *> params)
{
    return with_slots(params, &out, [id](ZND_Params slots, ZND_BusBuf *buf) { return ZND_MsgDispatch(id, slots, buf); });
}

uint32_t ControlTest::SendEvent(int32_t event, std::initializer_list<const char *> params)
{
    return with_slots(params, &out,
                      [event](ZND_Params slots, ZND_BusBuf *buf) { return ZND_EventMsgHaldle(event, slots, buf); });
}

uint32_t ControlTest::Post(uint32_t id)
{
    return ZND_MsgDispatch(id, nullptr, nullptr);
}

void ControlTest::ToLoginOk()
{
    ASSERT_EQ(0u, Send(ZND_EVT_LOGIN, {"alice", "secret"}));
    ASSERT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
}

void ControlTest::ToAccOk()
{
    ToLoginOk();
    ASSERT_EQ(0u, Send(ZND_EVT_ACC_START, {"1", "7", "tokyo", "1"}));
    ASSERT_EQ(ZND_STATE_ACCING, ZND_GetState());
    ASSERT_EQ(0u, Post(ZND_EVT_ACC_SUCCESS));
    ASSERT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    Notifications();
    sh.Clear();
    log.Clear();
}

void ControlTest::CloudDown(const std::string &api)
{
    sh.On(api, FakeShell::Exit(7));
}

void ControlTest::WanUp(bool up)
{
    sh.On("ping -q -c 1 -W 1 ", up ? 0 : FakeShell::Exit(1));
}

void ControlTest::TunnelUp(const std::string &ifname, bool up)
{
    sh.On(" -I " + ifname + " ", up ? 0 : FakeShell::Exit(1));
}

void ControlTest::TableEmpty(const char *table, bool empty)
{
    sh.On(std::string("ip route show table ") + table + "|", empty ? FakeShell::Exit(1) : 0);
}

std::vector<std::string> ControlTest::LedCommands() const
{
    std::vector<std::string> leds;
    for (const auto &c : sh.commands())
        if (c.find("/sys/class/leds/") != std::string::npos || c.find(ZND_PATH_INIT_LED) != std::string::npos)
            leds.push_back(c);
    return leds;
}

std::vector<int> ControlTest::Notifications()
{
    std::vector<int> codes;
    char buf[2048];
    for (;;) {
        struct pollfd p = {notify_fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            break;
        ssize_t n = recv(notify_fd, buf, sizeof buf - 1, 0);
        if (n <= 0)
            break;
        buf[n] = '\0';
        json_object *doc = json_tokener_parse(buf);
        json_object *code = nullptr;
        EXPECT_TRUE(doc && json_object_object_get_ex(doc, "code", &code)) << buf;
        EXPECT_EQ(std::string("{ \"code\": ") + std::to_string(json_object_get_int(code)) +
                      ", \"msg\": \"interrupt\", \"data\": null }",
                  buf);
        codes.push_back(json_object_get_int(code));
        json_object_put(doc);
    }
    return codes;
}

std::string ControlTest::KeyLog() const
{
    return ZND_TestReadFile(ZND_PATH_KEY_LOG);
}

void ControlTest::SetLoginRoutes(std::initializer_list<const char *> items)
{
    ZND_RouteHashClear(ZND_GetLoginRouteSet());
    for (const char *item : items) {
        ZND_RouteEntry e;
        ZND_RouteEntryFromItem(&e, item);
        ZND_RouteHashAdd(ZND_GetLoginRouteSet(), &e);
    }
}

std::vector<std::string> ControlTest::LoginRoutes()
{
    return SetContents(ZND_GetLoginRouteSet());
}

} // namespace control_test
