// A sandboxed tunnel-control world for unit tests: base configuration files, one node, small route
// sets, dummy tunnel devices, a scripted shell whose pings fail (taking a second each) unless a
// test lets them answer, a manual clock and captured logs.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include "config/client_record.h"
#include "harness/fake_clock.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "route/route_test_util.h"

extern const char kOpenvpnConfig[];
extern const char kNetworkConfig[];
extern const char kIpsecConf[];

class AccFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Pings through dev answer from now on (or fail again).
    void TunnelAnswers(const std::string &dev, bool answers = true);
    // Pings through dev fail for the next probes state checks, then answer.
    void TunnelAnswersAfter(const std::string &dev, int probes);
    void WanAnswers(bool answers);
    // State probes made through dev (each starts with the first resolver).
    size_t Probes(const std::string &dev) const;
    size_t WanProbes() const;

    // Drives an AccStart request through the state machine, as the bus would.
    uint32_t AccStart(uint32_t mode, uint32_t reconn = 0);
    // AccStart with a tunnel that answers at once, advanced to ACC_OK.
    void ReachAccOk(uint32_t mode, const std::string &dev, uint32_t reconn);

    // Key-log entries that are exactly text.
    size_t KeyLogCount(const std::string &text) const;
    std::string KeyLog() const;
    // Index of cmd in the shell's record, -1 when absent.
    int CommandIndex(const std::string &cmd) const;

    FakeShell shell;
    FakeClock clock;
    LogCapture log;
    TalkRecorder talk;
};

// The one node of the table.
#define TEST_NODE_ADDR "203.0.113.10"
#define TEST_LOGIN_ROUTES 2
#define TEST_TRAFFIC_ROUTES 3
