// Shared set-up of the control tests (state machine, actions, request handler, restore). They run
// in the sandbox: the cloud service is a scripted curl that writes the reply file, pings, LED and
// route commands go to a FakeShell, kernel route requests to a recorder, and LAN notifications
// to a real socket on port 7168 (the LAN address is 127.0.0.1, so they arrive on loopback).
#pragma once
#include <gtest/gtest.h>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>
#include "config/client_record.h"
#include "harness/cloud_replies.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "route/route_test_util.h"

namespace control_test {

struct CloudScript {
    std::string login = kLoginOk;
    std::string nodes = kNodesXml;
    std::string games = kGamesXml;
    std::string force_offline = "{\"code\":0}";
};

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Dispatches a message id with the given parameter slots and an output table; the table is
    // kept as compact JSON in out.
    uint32_t Send(uint32_t id, std::initializer_list<const char *> params = {});
    // The same straight to the event handler of the current state (reaches event 0 as well).
    uint32_t SendEvent(int32_t event, std::initializer_list<const char *> params = {});
    // The same without slots and output table, as the timers raise events.
    uint32_t Post(uint32_t id);

    // Puts the daemon in a state the way the actions would leave it.
    void ToLoginOk();
    void ToAccOk();   // OpenVPN to node 7, reconnection on

    // Makes every request to one API of the cloud fail at the network level (curl exit 7).
    void CloudDown(const std::string &api);
    size_t CloudCalls(const std::string &api) const { return sh.Count(api); }
    void WanUp(bool up);
    // Pings through ifname answer or not (the WAN rule stays as it is).
    void TunnelUp(const std::string &ifname, bool up);
    // "ip route show table <t>| head ..." reports an empty (true) or filled table.
    void TableEmpty(const char *table, bool empty);

    // LED and route-table commands, in order.
    std::vector<std::string> LedCommands() const;
    // Codes of the LAN notifications received since the last call.
    std::vector<int> Notifications();
    std::string KeyLog() const;

    void SetLoginRoutes(std::initializer_list<const char *> items);
    static std::vector<std::string> LoginRoutes();

    LogCapture log;
    FakeShell sh;
    TalkRecorder rtnl;
    CloudScript cloud;
    std::string out;
    int notify_fd = -1;
};

std::vector<std::string> Items(ZND_RouteHash *set);

} // namespace control_test
