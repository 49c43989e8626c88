// The fault drill: rounds of log in, start, kill -9 at a random point (while dialing, while the
// routes go in, some time after ACC_OK, during a stop or during a logout), restart with the state
// the client (zunaroctl) recorded, and a check that the daemon came back to the state the client
// was last told, on a consistent router: when accelerating, each route of the lists once in
// tables 252 and 251 and one policy rule at pref 99 and one at pref 100, else no traffic route;
// no UCI file empty or cut.
// A few rounds by default; ZUNARO_DRILL_ROUNDS=20 for more, ZUNARO_DRILL_SEED to repeat a drill.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include "harness/sandbox.h"
#include "router_session.h"

namespace e2e {
namespace {

const char kRun[] = "/run/zunaro-sim/run";   // the sim's run directory as the router sees it
const char kPassword[] = "/tmp/e2e-drill.pass";

enum class KillPoint { Dialing, RouteInstall, AfterAccOk, Stopping, LoggingOut };
constexpr int kKillPoints = 5;

const char *Name(KillPoint p)
{
    switch (p) {
    case KillPoint::Dialing: return "while dialing";
    case KillPoint::RouteInstall: return "while the routes go in";
    case KillPoint::AfterAccOk: return "after ACC_OK";
    case KillPoint::Stopping: return "during a stop";
    case KillPoint::LoggingOut: return "during a logout";
    }
    return "";
}

int EnvInt(const char *name, int fallback)
{
    const char *v = getenv(name);
    return v && *v ? atoi(v) : fallback;
}

class FaultDrill : public RouterSession {
protected:
    // A state-changing command of the client, which records the state it was told. Returns that
    // state, or "" when the daemon did not answer (nothing was told, nothing recorded).
    std::string Told(const CtlRun &run, const char *what)
    {
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 3 || run.exitCode == 6) << what << ": " << run.out << run.err;
        if (run.exitCode != 0)
            return "";
        // "..., state LOGIN_OK"; a start without a wait ends with the state it was told.
        size_t at = run.out.find("state ");
        if (at != std::string::npos)
            return run.out.substr(at + 6, run.out.find_first_of(" \n", at + 6) - at - 6);
        size_t end = run.out.find_last_not_of(" \n");
        size_t begin = run.out.find_last_of(" \n", end);
        return end == std::string::npos ? "" : run.out.substr(begin + 1, end - begin);
    }

    // Sections per UCI file: a file cut short or emptied loses some.
    std::map<std::string, int> ConfigSections()
    {
        std::map<std::string, int> out;
        for (const auto &line : Lines(InRouterOut("for f in /etc/config/*; do echo \"$f $(grep -c '^config ' $f) "
                                                  "$(tail -c 1 $f | od -An -c | tr -d ' ')\"; done"))) {
            size_t a = line.find(' '), b = line.rfind(' ');
            std::string file = line.substr(0, a), ending = line.substr(b + 1);
            out[file] = ending == "\\n" ? atoi(line.substr(a + 1, b - a - 1).c_str()) : -1;
        }
        return out;
    }

    // A watcher inside the router that kills the daemon delay_s after the first route of table
    // login goes in. It is ready once it has seen a route of table 250 come and go.
    void KillAtRouteInstall(double delay_s)
    {
        std::string script =
            "rm -f " + std::string(kRun) + "/drill.*; timeout 120 ip -o monitor route | while read -r line; do "
            "case \"$line\" in *'table 250'*) : >" + kRun + "/drill.ready ;; "
            "*'table login'*) sleep " + std::to_string(delay_s) + "; kill -9 $(cat " + kRun + "/daemon.pid); : >" +
            kRun + "/drill.killed; exit 0 ;; esac; done";
        ASSERT_EQ(0, InRouterBackground(script));
        ASSERT_TRUE(WaitFor(10000, [&] {
            InRouter("ip route replace 192.0.2.250/32 dev lo table 250; ip route flush table 250");
            return ZND_TestFileExists(kState + "/run/drill.ready");
        })) << "the route watcher did not start";
    }

    bool Killed() { return ZND_TestFileExists(kState + "/run/drill.killed"); }
};

TEST_F(FaultDrill, KillAtRandomPointsAndRestart)
{
    const int rounds = EnvInt("ZUNARO_DRILL_ROUNDS", kKillPoints);
    const unsigned seed = (unsigned)EnvInt("ZUNARO_DRILL_SEED", (int)time(nullptr));
    std::mt19937 rng(seed);
    printf("fault drill: %d rounds, seed %u (ZUNARO_DRILL_SEED repeats it)\n", rounds, seed);
    const std::map<std::string, int> sections = ConfigSections();
    ASSERT_FALSE(sections.empty());

    for (int round = 1; round <= rounds && !HasFatalFailure(); round++) {
        // One of each kill point in turn, a random time within it.
        KillPoint point = static_cast<KillPoint>((round - 1) % kKillPoints);
        const char *mode = round % 2 ? "openvpn" : "ipsec";
        SCOPED_TRACE("round " + std::to_string(round) + ", mode " + mode + ", kill " + Name(point));

        ASSERT_TRUE(ZND_TestWriteFile(kPassword, "zunaro-demo\n"));
        if (Rpc("GetStatus").Status() != "INIT") {
            ASSERT_EQ("INIT", Told(Ctl("logout"), "logout"));
        }
        ASSERT_EQ("LOGIN_OK", Told(Ctl("login demo", kPassword), "login"));

        double delay_s = 0;
        if (point == KillPoint::RouteInstall) {
            delay_s = std::uniform_int_distribution<int>(0, 20)(rng) / 1000.0;
            ASSERT_NO_FATAL_FAILURE(KillAtRouteInstall(delay_s));
        }
        std::string told = Told(Ctl(std::string("start ") + mode + " --wait 0"), "start");
        ASSERT_EQ("ACCING", told);
        auto started = std::chrono::steady_clock::now();

        if (point == KillPoint::Dialing) {
            // The tunnel carries traffic after a second at the earliest (the first dial check).
            delay_s = std::uniform_int_distribution<int>(0, 600)(rng) / 1000.0;
            std::this_thread::sleep_until(started + std::chrono::milliseconds((int)(delay_s * 1000)));
            ASSERT_EQ(0, Sim("daemon kill"));
        } else if (point == KillPoint::RouteInstall) {
            ASSERT_TRUE(WaitFor(45000, [&] { return Killed(); })) << "no route went in";
        } else {
            ASSERT_TRUE(WaitForState("ACC_OK", 45000)) << Rpc("GetStatus").text;
            delay_s = std::uniform_int_distribution<int>(0, point == KillPoint::AfterAccOk ? 3000 : 150)(rng) / 1000.0;
            CtlRun run;
            std::thread client;
            if (point != KillPoint::AfterAccOk)
                client = std::thread([&] { run = Ctl(point == KillPoint::Stopping ? "stop" : "logout"); });
            std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                         std::chrono::milliseconds((int)(delay_s * 1000)));
            ASSERT_EQ(0, Sim("daemon kill"));
            if (client.joinable()) {
                client.join();
                std::string answer = Told(run, Name(point));
                told = answer.empty() ? told : answer;
            }
        }
        ASSERT_TRUE(WaitFor(5000, [&] { return Sim("daemon status") != 0; })) << "the daemon survived kill -9";
        size_t left_login = Routes(252).size(), left_traffic = Routes(251).size();
        printf("round %d: mode %s, killed %s (%.3f s), client told %s, left %zu login and %zu traffic routes\n", round,
               mode, Name(point), delay_s, told.c_str(), left_login, left_traffic);

        // The restart restores what the client recorded, which is what it was told last: after
        // ACCING it dials again or adopts the tunnel.
        EXPECT_EQ(told, UserinfoOption("currState"));
        ASSERT_EQ(0, Sim("daemon start"));
        const bool accelerating = told == "ACCING" || told == "ACC_OK";
        ASSERT_TRUE(WaitForState(accelerating ? "ACC_OK" : told, 60000)) << Rpc("GetStatus").text << KeyLog();
        EXPECT_EQ(sections, ConfigSections()) << "a UCI file is empty or cut short";
        if (!accelerating) {
            EXPECT_TRUE(Routes(251).empty());
            continue;
        }

        std::vector<std::string> login_routes = Routes(252), traffic_routes = Routes(251);
        EXPECT_EQ(kLoginRoutes, login_routes.size());
        EXPECT_EQ(kTrafficRoutes, traffic_routes.size());
        EXPECT_EQ(login_routes.size(), std::set<std::string>(login_routes.begin(), login_routes.end()).size());
        EXPECT_EQ(traffic_routes.size(), std::set<std::string>(traffic_routes.begin(), traffic_routes.end()).size());
        int pref99 = 0, pref100 = 0;
        for (const auto &rule : Lines(Rules())) {
            pref99 += rule.rfind("99:", 0) == 0;
            pref100 += rule.rfind("100:", 0) == 0;
        }
        EXPECT_EQ(1, pref99) << Rules();
        EXPECT_EQ(1, pref100) << Rules();
    }
}

} // namespace
} // namespace e2e
