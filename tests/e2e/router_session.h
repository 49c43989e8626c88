// The real zunarod in the simulated router (sim/router), driven the way the router's web interface
// drives it: requests through the ubus tool, faults through the sim, and the outcome read from the
// replies, the key log, the kernel tables and the simulated services' log.
#pragma once
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace e2e {

extern const std::string kState;   // the sim's state directory, as seen from the test

// sim/data: the cloud's login list of game 757 (it replaces the local one at login) and the local
// traffic list.
constexpr size_t kLoginRoutes = 360;
constexpr size_t kTrafficRoutes = 320;
// The status LED (state_b, then state_g) as a command inside the router.
constexpr const char *kLeds = "cat /sys/class/leds/state_b/brightness /sys/class/leds/state_g/brightness";

// One reply of the daemon as the bus tool prints it.
struct Reply {
    std::string text;
    int exitCode = -1;
    // A value by dotted path ("result.status", "error.data.event", "result.node.nid"), as text;
    // "" when absent. Of repeated keys the last one counts.
    std::string Get(const std::string &path) const;
    // The control state named in the reply, whether it is a result or an error.
    std::string Status() const;
};

// One run of zunaroctl inside the router.
struct CtlRun {
    int exitCode = -1;
    std::string out, err;
};

// Polls pred every 100 ms until it holds or timeout_ms passed.
bool WaitFor(int timeout_ms, const std::function<bool()> &pred);
std::vector<std::string> Lines(const std::string &text);
// Runs a Python statement on the mock cloud's scenario (the dict d); the cloud reads it again.
void EditScenario(const std::string &statement);

class RouterSession : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Extra options of `sim/router up`.
    virtual std::string UpOptions() { return ""; }

    // sim/router ARGS; its exit code (output goes to the sim command log).
    int Sim(const std::string &args);
    // A shell command inside the router: exit code, or its standard output.
    int InRouter(const std::string &cmd);
    std::string InRouterOut(const std::string &cmd);
    // A shell script inside the router, in the background; its exit code, whether it started.
    int InRouterBackground(const std::string &script);

    // "rpc" with method and string parameters (request id 1).
    Reply Rpc(const std::string &method, const std::vector<std::string> &params = {});
    // "rpc" with a request written in JSON.
    Reply RpcJson(const std::string &json);
    // zunaroctl ARGS inside the router, its standard input from the file input.
    CtlRun Ctl(const std::string &args, const std::string &input = "/dev/null");
    // An option of the router's userinfo section "1" as the UCI file holds it; "" when absent.
    std::string UserinfoOption(const std::string &option);
    // Polls GetStatus until the daemon is in state.
    bool WaitForState(const std::string &state, int timeout_ms);
    // Login, AccStart and the wait for ACC_OK, each step asserted.
    void LoginAndAccelerate(const std::string &mode);
    // In ACC_OK: turns debug output on and waits for the next check of supervision, so that an
    // event of the next few seconds does not wait behind a check that pings a lost network.
    void AfterASupervisionCheck();

    std::string KeyLog() const;
    int KeyLogCount(const std::string &text) const;
    bool WaitForKeyLog(const std::string &text, int count, int timeout_ms) const;
    // The router's log: the daemon's system log lines and its output (sim/router daemon log).
    std::string DaemonLog() const;
    std::vector<std::string> ServicesLog() const;

    // Routes of a kernel table, one per line, and the policy rules.
    std::vector<std::string> Routes(int table);
    std::string Rules();
    bool LinkExists(const std::string &dev);

    // A listener on the LAN host for datagrams to port 7168; Heard() waits for it to end and
    // returns its lines ("ADDR:PORT TEXT").
    void ListenOnLan(int count, double timeout_s);
    std::string Heard();

    // Sets "onlines" of the demo account in the mock cloud's scenario (read again on change).
    void SetCloudOnlines(int onlines);

private:
    int listeners_ = 0;
};

} // namespace e2e
