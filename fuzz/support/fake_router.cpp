#include "fake_router.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <unistd.h>
#include "core/paths.h"
#include "harness/cloud_replies.h"
#include "platform/rtnl.h"
#include "platform/shell.h"

FakeRouter g_router;

namespace {

bool has(const std::string &s, const char *part)
{
    return s.find(part) != std::string::npos;
}

int exit_status(int code)
{
    return code << 8;
}

int table_of(const std::string &cmd)
{
    return has(cmd, "login") ? 252 : has(cmd, "traffic") ? 251 : 0;
}

// The service whose tunnel a device is: OpenVPN's device is named after the node's ("tun0").
const char *service_of(const std::string &dev)
{
    if (dev == "ipsec0")
        return "ipsec";
    if (dev == "l2tp-vpn" || dev == "pptp-vpn")
        return "vpn";
    return "openvpn";
}

// The device a ping goes out through, empty for the WAN.
std::string ping_device(const std::string &cmd)
{
    size_t at = cmd.find(" -I ");
    if (at == std::string::npos)
        return "";
    size_t start = at + 4, end = cmd.find(' ', start);
    return cmd.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void write_reply(const std::string &body)
{
    FILE *f = fopen(ZND_PATH_SERVER_REPLY, "wb");
    if (!f)
        return;
    fwrite(body.data(), 1, body.size(), f);
    fclose(f);
}

int curl(const std::string &cmd)
{
    for (const auto &api : g_router.cloud) {
        if (!has(cmd, api.first.c_str()))
            continue;
        const FakeRouter::CloudReply &r = api.second;
        if (r.exit_code != 0)
            return exit_status(r.exit_code);
        if (r.write_file)
            write_reply(r.body);
        return 0;
    }
    return exit_status(7);
}

int shell_run(const char *c)
{
    std::string cmd = c;
    FakeRouter &r = g_router;
    if (cmd.rfind("curl ", 0) == 0)
        return curl(cmd);
    if (cmd.rfind("rm -rf " ZND_PATH_SERVER_REPLY, 0) == 0) {
        unlink(ZND_PATH_SERVER_REPLY);
        return 0;
    }
    if (cmd.rfind("ping ", 0) == 0) {
        std::string dev = ping_device(cmd);
        bool answers = r.wan_up && (dev.empty() || (r.running.count(service_of(dev)) && r.reachable.count(dev)));
        return answers ? 0 : exit_status(1);
    }
    // OpenVPN starts two seconds later while its start ticket is there; a stop takes it away.
    if (has(cmd, ZND_PATH_INIT_OPENVPN " start")) {
        if (access(ZND_PATH_OPENVPN_START_TICKET, F_OK) == 0)
            r.running.insert("openvpn");
        return 0;
    }
    if (has(cmd, ZND_PATH_INIT_OPENVPN " stop")) {
        r.running.erase("openvpn");
        return 0;
    }
    if (has(cmd, ZND_PATH_INIT_IPSEC " st")) {
        has(cmd, " start") ? (void)r.running.insert("ipsec") : (void)r.running.erase("ipsec");
        return 0;
    }
    if (cmd.rfind("ifup ", 0) == 0 || cmd.rfind("ifdown ", 0) == 0) {
        cmd[2] == 'u' ? (void)r.running.insert("vpn") : (void)r.running.erase("vpn");
        return 0;
    }
    if (cmd.rfind("ip route flush table ", 0) == 0) {
        r.tables[table_of(cmd)].clear();
        return 0;
    }
    if (cmd.rfind("ip route show table ", 0) == 0)
        return r.tables[table_of(cmd)].empty() ? exit_status(1) : 0;
    if (cmd.rfind("ip rule list", 0) == 0)
        return r.rules.count(table_of(cmd) == 252 ? 99 : 100) ? 0 : exit_status(1);
    if (cmd.rfind("ip rule add ", 0) == 0) {
        r.rules[has(cmd, "pref 99") ? 99 : 100]++;
        return 0;
    }
    // LED, init scripts, ifup and ifdown: done.
    return 0;
}

int shell_read(const char *c, std::string *out)
{
    std::string cmd = c;
    out->clear();
    if (cmd == "ip route")
        *out = g_router.has_gateway ? "default via 192.0.2.1 dev eth0 \n192.0.2.0/24 dev eth0 scope link\n"
                                    : "192.0.2.0/24 dev eth0 scope link\n";
    else if (cmd.rfind("ifconfig eth1", 0) == 0)
        *out = "02005E102030";
    return 0;
}

int read_dst(const struct nlattr *attr, void *dst)
{
    if (mnl_attr_get_type(attr) == RTA_DST && mnl_attr_validate(attr, MNL_TYPE_U32) == 0)
        *static_cast<uint32_t *>(dst) = ntohl(mnl_attr_get_u32(attr));
    return MNL_CB_OK;
}

// Route requests as the kernel takes them: a new route must not exist yet and must have no host
// bits beyond its prefix, a deleted one must exist.
int talk(const struct nlmsghdr *n)
{
    FakeRouter &r = g_router;
    if (r.kernel_refusals > 0) {
        r.kernel_refusals--;
        return -1;
    }
    if (n->nlmsg_type != RTM_NEWROUTE && n->nlmsg_type != RTM_DELROUTE)
        return -1;
    const struct rtmsg *rt = static_cast<const struct rtmsg *>(mnl_nlmsg_get_payload(n));
    uint32_t dst = 0;
    mnl_attr_parse(n, sizeof *rt, read_dst, &dst);
    int len = rt->rtm_dst_len;
    uint32_t host_bits = len >= 32 ? 0 : 0xFFFFFFFFu >> len;
    auto &table = r.tables[rt->rtm_table];
    std::pair<uint32_t, int> key(dst, len);
    bool refused = n->nlmsg_type == RTM_NEWROUTE ? (dst & host_bits) != 0 || !table.insert(key).second
                                                 : table.erase(key) == 0;
    if (refused)
        r.refused_requests++;
    return refused ? -1 : 0;
}

// The credentials on curl's standard input make no difference to the fake cloud.
int shell_run_input(const char *cmd, const char *)
{
    return shell_run(cmd);
}

} // namespace

void FakeRouter::Install()
{
    static const ZND_ShellOps ops = {shell_run, shell_read, shell_run_input};
    ZND_ShellSetOps(&ops);
    ZND_RtnlSetTalkHook(talk);
}

void FakeRouter::Reset()
{
    cloud.clear();
    cloud["/api/softlogin"].body = kLoginOk;
    cloud["/api/cfgcontrol"].body = kNodesXml;
    cloud["/api/gamelist"].body = kGamesXml;
    cloud["/api/forceoffline"].body = "{\"code\":0}";
    wan_up = true;
    running.clear();
    reachable.clear();
    has_gateway = true;
    kernel_refusals = 0;
    tables.clear();
    rules.clear();
    refused_requests = 0;
}

size_t FakeRouter::Routes(int table) const
{
    auto it = tables.find(table);
    return it == tables.end() ? 0 : it->second.size();
}
