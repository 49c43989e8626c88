// A router with three networks, built inside the sandbox: the test process plays the router, and
// the namespaces "lan", "wan" and "wwan" each hold one host behind a veth pair.
//   lan   br-lan 192.168.1.1/24  <->  lan0  192.168.1.23/24
//   wan   eth1   10.1.2.3/24     <->  wan0  10.1.2.7/24
//   wwan  wlan0  172.16.5.2/24   <->  wwan0 172.16.5.9/24
#pragma once
#include <functional>
#include <string>

namespace lanlab {

extern const char kLanRouter[], kLanHost[], kWanRouter[], kWanHost[], kWwanRouter[], kWwanHost[];

// Creates the namespaces and links and writes the UCI packages network and wireless.
bool Build(std::string *why);
// Writes /etc/config/network: the lan section with its address and mask, wan (eth1, mac) and
// wwan (wlan0) sections.
void WriteNetworkConfig(const std::string &lan_ip, const std::string &lan_mask, const std::string &wan_mac);
// The same with the lan section's option lines as given, and the wwan section only when wwan holds.
void WriteNetworkConfigLines(const std::string &lan_lines, const std::string &wan_mac, bool wwan = true);
void WriteWireless(const std::string &ssid_line);

// A UDP socket that lives in namespace ns (created there, used from here; "" for the router's
// own), bound to addr:port, with SO_REUSEADDR unless reuse is false. -1 on failure.
int UdpIn(const std::string &ns, const char *addr, int port, bool reuse = true);
// Waits up to timeout_ms for one datagram; false when none came. dest receives the address the
// datagram was sent to, port the sender's port.
bool Receive(int fd, int timeout_ms, std::string *text, std::string *dest = nullptr, int *port = nullptr);
bool SendTo(int fd, const char *addr, int port, const std::string &data);

// Runs the event loop until done() holds or timeout_ms passed; returns whether done() held.
bool Serve(std::function<bool()> done, int timeout_ms);
// True when fd has a datagram waiting.
bool Readable(int fd);

} // namespace lanlab
