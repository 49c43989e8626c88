#include "lan_lab.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#include "harness/sandbox.h"
#include "harness/serve_until.h"
#include "platform/loop.h"

namespace lanlab {

const char kLanRouter[] = "192.168.1.1", kLanHost[] = "192.168.1.23";
const char kWanRouter[] = "10.1.2.3", kWanHost[] = "10.1.2.7";
const char kWwanRouter[] = "172.16.5.2", kWwanHost[] = "172.16.5.9";

namespace {

bool sh(const std::string &cmd, std::string *why)
{
    if (ZND_TestSh(cmd) == 0)
        return true;
    *why = "failed: " + cmd;
    return false;
}

bool link(const char *ns, const char *dev, const char *addr, const char *peer, const char *peer_addr,
          std::string *why)
{
    std::string n = ns;
    return sh("ip netns add " + n, why) && sh("ip -n " + n + " link set lo up", why) &&
           sh(std::string("ip link add ") + dev + " type veth peer name " + peer + " netns " + n, why) &&
           sh(std::string("ip addr add ") + addr + "/24 dev " + dev + " && ip link set " + dev + " up", why) &&
           sh("ip -n " + n + " addr add " + peer_addr + "/24 dev " + peer + " && ip -n " + n + " link set " +
                  peer + " up",
              why);
}

// Runs fn with the calling thread in namespace ns.
template <typename Fn> bool in_netns(const std::string &ns, Fn fn)
{
    int self = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    int other = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = self >= 0 && other >= 0 && setns(other, CLONE_NEWNET) == 0;
    if (ok) {
        fn();
        ok = setns(self, CLONE_NEWNET) == 0;
    }
    if (self >= 0)
        close(self);
    if (other >= 0)
        close(other);
    return ok;
}

} // namespace

bool Build(std::string *why)
{
    return link("lan", "br-lan", kLanRouter, "lan0", kLanHost, why) &&
           link("wan", "eth1", kWanRouter, "wan0", kWanHost, why) &&
           link("wwan", "wlan0", kWwanRouter, "wwan0", kWwanHost, why);
}

void WriteNetworkConfig(const std::string &lan_ip, const std::string &lan_mask, const std::string &wan_mac)
{
    std::string lines;
    if (!lan_ip.empty())
        lines += "\toption ipaddr '" + lan_ip + "'\n";
    if (!lan_mask.empty())
        lines += "\toption netmask '" + lan_mask + "'\n";
    WriteNetworkConfigLines(lines, wan_mac);
}

void WriteNetworkConfigLines(const std::string &lan_lines, const std::string &wan_mac, bool wwan)
{
    std::string text = "config interface 'lan'\n" + lan_lines;
    text += "\nconfig interface 'wan'\n\toption ifname 'eth1'\n";
    if (!wan_mac.empty())
        text += "\toption macaddr '" + wan_mac + "'\n";
    if (wwan)
        text += "\nconfig interface 'wwan'\n\toption ifname 'wlan0'\n";
    ZND_TestWriteFile("/etc/config/network", text);
}

void WriteWireless(const std::string &ssid_line)
{
    ZND_TestWriteFile("/etc/config/wireless", "config wifi-iface 'wifi'\n\toption device 'radio0'\n" + ssid_line);
}

int UdpIn(const std::string &ns, const char *addr, int port, bool reuse)
{
    int fd = -1;
    auto make = [&] { fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); };
    if (ns.empty())
        make();
    else if (!in_netns(ns, make))
        return -1;
    if (fd < 0)
        return -1;
    int one = 1;
    if (reuse)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    struct sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_port = htons((uint16_t)port);
    sin.sin_addr.s_addr = inet_addr(addr);
    if (bind(fd, (struct sockaddr *)&sin, sizeof sin) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Readable(int fd)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

bool Receive(int fd, int timeout_ms, std::string *text, std::string *dest, int *port)
{
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
        return false;
    char buf[4096];
    char ctrl[256];
    struct sockaddr_in from = {};
    struct iovec iov = {buf, sizeof buf};
    struct msghdr msg = {};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = ctrl;
    msg.msg_controllen = sizeof ctrl;
    ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
    if (n < 0)
        return false;
    text->assign(buf, (size_t)n);
    if (port)
        *port = ntohs(from.sin_port);
    if (dest) {
        dest->clear();
        for (struct cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                struct in_pktinfo info;
                memcpy(&info, CMSG_DATA(c), sizeof info);
                *dest = inet_ntoa(info.ipi_addr);
            }
        }
    }
    return true;
}

bool SendTo(int fd, const char *addr, int port, const std::string &data)
{
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)port);
    to.sin_addr.s_addr = inet_addr(addr);
    return sendto(fd, data.data(), data.size(), 0, (struct sockaddr *)&to, sizeof to) == (ssize_t)data.size();
}

bool Serve(std::function<bool()> done, int timeout_ms)
{
    return ZND_TestServeUntil(std::move(done), timeout_ms);
}

} // namespace lanlab
