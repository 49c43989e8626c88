// The world around a daemon that runs inside a fuzz target: its shell and its kernel tables as
// a model. Shell commands are answered from the model (pings by the WAN and the tunnels, curl by
// the scripted cloud replies, route flushes, table-empty checks and policy rules against the
// model tables, tunnel services started and stopped), and the rtnetlink route requests change the
// model tables the way the kernel would change its own.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

struct ZND_ShellOps;

struct FakeRouter {
    // The cloud service, per API path ("/api/softlogin", ...): the reply body written by curl, or
    // curl's exit code when it is not 0.
    struct CloudReply {
        int exit_code = 0;
        bool write_file = true;
        std::string body;
    };
    std::map<std::string, CloudReply> cloud;

    bool wan_up = true;
    // A tunnel answers pings while its service runs ("openvpn", "ipsec", "vpn" for L2TP and
    // PPTP) and its node is reachable (the far end of the device answers).
    std::set<std::string> running;
    std::set<std::string> reachable;   // devices: "tun0", "ipsec0", "l2tp-vpn", "pptp-vpn"
    bool has_gateway = true;            // "ip route" lists a default route
    int kernel_refusals = 0;            // the next route requests the kernel refuses

    // Kernel routes per table (destination, prefix length) and policy rules per preference.
    std::map<int, std::set<std::pair<uint32_t, int>>> tables;
    std::map<int, int> rules;

    // Every inconsistency the kernel reported: duplicate routes, routes with host bits, deletes of
    // routes that are not there. They are not errors of the daemon by themselves.
    int refused_requests = 0;

    // Starts answering for the daemon (shell runner and rtnetlink hook).
    void Install();
    void Reset();   // cloud as a working service, WAN up, no tunnel, kernel tables and rules empty
    size_t Routes(int table) const;
};

extern FakeRouter g_router;

