// The package's init script under OpenWrt's procd in the simulated router (sim/router procd):
// start, `service list`, respawn after a crash with the state restored, restart, stop, enable and
// disable, the crash-loop limit, the system log as logread shows it, and the removal's clean-up.
#include <chrono>
#include <json-c/json.h>
#include "harness/sandbox.h"
#include "router_session.h"

namespace e2e {
namespace {

const std::string kInit = "/etc/init.d/zunaro";

int Count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (const auto &line : Lines(text))
        n += line.find(what) != std::string::npos;
    return n;
}

class Procd : public RouterSession {
protected:
    void SetUp() override
    {
        setenv("ZUNARO_BUILD", ZND_BUILD_DIR, 1);
        ASSERT_EQ(0, ZND_TestSh(ZND_SIM_DIR "/router up >/tmp/sim-up.log 2>&1")) << ZND_TestReadFile("/tmp/sim-up.log");
        ASSERT_EQ(0, Sim("procd start")) << ZND_TestReadFile("/tmp/sim-cmd.log");
    }

    void TearDown() override
    {
        // Under procd the sanitizer builds report into the system log.
        std::string log = Logread();
        for (const char *report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"})
            EXPECT_EQ(std::string::npos, log.find(report)) << log;
        RouterSession::TearDown();
    }

    // A command where procd runs, as the router's shell runs it.
    int InProcd(const std::string &cmd) { return Sim("procd exec /bin/sh -c " + ZND_TestQuote(cmd)); }
    std::string InProcdOut(const std::string &cmd)
    {
        return ZND_TestShOut(ZND_SIM_DIR "/router procd exec /bin/sh -c " + ZND_TestQuote(cmd) + " 2>/dev/null");
    }
    std::string Logread() { return InProcdOut("logread"); }

    // `service list` of the package's service: instance1 as procd reports it; "" without one.
    std::string Instance(const std::string &member)
    {
        std::string out = ZND_TestShOut(ZND_SIM_DIR "/router ubus call service list 2>/dev/null");
        json_object *doc = json_tokener_parse(out.c_str()), *v = doc;
        for (const char *key : {"zunaro", "instances", "instance1"})
            if (!v || !json_object_object_get_ex(v, key, &v))
                v = nullptr;
        std::string text;
        if (v && json_object_object_get_ex(v, member.c_str(), &v))
            text = json_object_get_type(v) == json_type_string ? json_object_get_string(v)
                                                               : json_object_to_json_string_ext(v, JSON_C_TO_STRING_PLAIN);
        json_object_put(doc);
        return text;
    }

    std::string RunningPid()
    {
        return Instance("running") == "true" ? Instance("pid") : "";
    }

    void RecordAccelerated()
    {
        ASSERT_EQ(0, InRouter("sed -i \"s/option currState .*/option currState 'ACC_OK'/\" /etc/config/userinfo"));
        SetCloudOnlines(1);
    }
};

TEST_F(Procd, StartRespawnRestartStopEnableDisableAndOneLogLinePerEvent)
{
    ASSERT_EQ(0, InProcd(kInit + " start"));
    ASSERT_TRUE(WaitFor(10000, [&] { return Sim("ubus -t 1 list zunaro") == 0; }));
    EXPECT_EQ("[\"\\/usr\\/sbin\\/zunarod\"]", Instance("command"));
    EXPECT_EQ("{\"threshold\":3600,\"timeout\":5,\"retry\":5}", Instance("respawn"));
    EXPECT_EQ("running\n", InProcdOut(kInit + " status"));

    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    ASSERT_NO_FATAL_FAILURE(RecordAccelerated());
    std::string pid = RunningPid();
    ASSERT_FALSE(pid.empty());
    int restored = KeyLogCount("[Restore]: acc success");
    auto killed = std::chrono::steady_clock::now();
    ASSERT_EQ(0, InProcd("kill -9 " + pid));
    ASSERT_TRUE(WaitFor(10000, [&] { std::string p = RunningPid(); return !p.empty() && p != pid; }));
    double respawn_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    EXPECT_GE(respawn_s, 4.5);
    EXPECT_LE(respawn_s, 10.0);
    ASSERT_TRUE(WaitForKeyLog("[Restore]: acc success", restored + 1, 30000)) << KeyLog();
    EXPECT_TRUE(WaitForState("ACC_OK", 10000));

    pid = RunningPid();
    ASSERT_EQ(0, InProcd(kInit + " restart"));
    ASSERT_TRUE(WaitFor(10000, [&] { std::string p = RunningPid(); return !p.empty() && p != pid; }));
    ASSERT_TRUE(WaitFor(10000, [&] { return Sim("ubus -t 1 list zunaro") == 0; }));

    ASSERT_EQ(0, InProcd(kInit + " enable"));
    EXPECT_EQ("../init.d/zunaro\n../init.d/zunaro\n", InProcdOut("readlink /etc/rc.d/S95zunaro /etc/rc.d/K10zunaro"));
    EXPECT_EQ(0, InProcd(kInit + " enabled"));
    ASSERT_EQ(0, InProcd(kInit + " disable"));
    EXPECT_NE(0, InProcd(kInit + " enabled"));
    EXPECT_EQ("", InProcdOut("ls /etc/rc.d"));

    // procd lets the daemon end (SIGTERM, then its teardown) before it drops the instance.
    ASSERT_EQ(0, InProcd(kInit + " stop"));
    EXPECT_TRUE(WaitFor(10000, [&] { return Instance("pid").empty(); })) << Instance("pid");
    EXPECT_EQ("inactive\n", InProcdOut(kInit + " status"));
    EXPECT_EQ(3, InProcd(kInit + " status >/dev/null"));
    EXPECT_TRUE(LinkExists("tun0")) << "a stop leaves the tunnel to the next start";

    // Each daemon line once, from syslog at its own level; what procd takes from the daemon's
    // output is what the commands it runs print.
    std::string log = Logread();
    EXPECT_EQ(3, Count(log, "user.info zunarod: [ZND_INFO]  user init ok  [line:")) << "start, respawn, restart";
    EXPECT_GT(Count(log, "user.err zunarod: [ZND_ERROR]  "), 0);
    int from_output = 0;
    for (const auto &line : Lines(log)) {
        bool output = line.find(" daemon.") != std::string::npos && line.find(" zunarod[") != std::string::npos;
        from_output += output;
        EXPECT_FALSE(output && line.find("[ZND_") != std::string::npos) << "a copy: " << line;
    }
    EXPECT_GT(from_output, 0) << "the commands' output reaches the log";
}

// procd gives up on a daemon that keeps ending soon after its start: the first run and five
// respawns, 5 s apart, then no more.
TEST_F(Procd, CrashLoopEndsAfterTheFifthRespawn)
{
    // Without its login route list the daemon ends at once with status 1.
    ASSERT_EQ(0, InRouter("rm /etc/zunaro/gameList.conf"));
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(0, InProcd(kInit + " start"));
    const std::string procd_log = kState + "/log/procd.log";
    ASSERT_TRUE(WaitFor(40000, [&] { return Count(ZND_TestReadFile(procd_log), "in a crash loop") > 0; }))
        << ZND_TestReadFile(procd_log);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GE(took, 24.0);
    EXPECT_EQ(1, Count(ZND_TestReadFile(procd_log), "zunaro::instance1 s in a crash loop 6 crashes"));
    EXPECT_EQ(6, Count(Logread(), "user.err zunarod: [ZND_ERROR]  read login route file fail"));
    EXPECT_NE("true", Instance("running"));
}

// Before the package goes, acceleration stops and leaves nothing of its routing. opkg runs the
// package's prerm, then (OpenWrt's default_prerm) the init script's disable and stop.
TEST_F(Procd, RemovalLeavesNoRouting)
{
    std::string makefile = ZND_TestReadFile(ZND_SIM_DIR "/../openwrt/zunaro/Makefile");
    const std::string begin = "define Package/zunaro/prerm\n";
    size_t at = makefile.find(begin);
    ASSERT_NE(std::string::npos, at);
    std::string prerm = makefile.substr(at + begin.size(), makefile.find("\nendef", at) + 1 - at - begin.size());
    for (size_t d; (d = prerm.find("$$")) != std::string::npos;)
        prerm.erase(d, 1);
    ASSERT_TRUE(ZND_TestWriteFile(kState + "/root/tmp/zunaro.prerm", prerm, 0755));

    ASSERT_EQ(0, InProcd(kInit + " enable && " + kInit + " start"));
    ASSERT_TRUE(WaitFor(10000, [&] { return Sim("ubus -t 1 list zunaro") == 0; }));
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    ASSERT_NO_FATAL_FAILURE(RecordAccelerated());
    ASSERT_FALSE(Routes(251).empty());
    ASSERT_NE(std::string::npos, Rules().find("99:"));

    ASSERT_EQ(0, InProcd("/tmp/zunaro.prerm remove && " + kInit + " disable && " + kInit + " stop"));
    EXPECT_FALSE(LinkExists("tun0"));
    EXPECT_TRUE(Routes(251).empty());
    EXPECT_TRUE(Routes(252).empty());
    std::string rules = Rules();
    EXPECT_EQ(std::string::npos, rules.find("99:")) << rules;
    EXPECT_EQ(std::string::npos, rules.find("100:")) << rules;
    EXPECT_EQ("LOGIN_OK", UserinfoOption("currState"));
    EXPECT_TRUE(WaitFor(10000, [&] { return Instance("pid").empty(); })) << Instance("pid");
    EXPECT_EQ("", InProcdOut("ls /etc/rc.d"));
}

} // namespace
} // namespace e2e
