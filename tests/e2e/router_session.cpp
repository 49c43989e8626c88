#include "router_session.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <json-c/json.h>
#include <sstream>
#include <thread>
#include "harness/sandbox.h"

namespace e2e {

const std::string kState = "/run/zunaro-sim";

namespace {

const std::string kRouter = ZND_SIM_DIR "/router";
const std::string kCmdLog = "/tmp/sim-cmd.log";
const std::string kRpcOut = "/tmp/e2e-rpc.out";
const std::string kCtlOut = "/tmp/e2e-ctl.out";
const std::string kCtlErr = "/tmp/e2e-ctl.err";

std::string JsonString(const std::string &text)
{
    json_object *s = json_object_new_string_len(text.data(), (int)text.size());
    std::string out = json_object_to_json_string_ext(s, JSON_C_TO_STRING_PLAIN);
    json_object_put(s);
    return out;
}

std::string Tail(const std::string &text, size_t lines)
{
    std::vector<std::string> all = Lines(text);
    std::string out;
    for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); i++)
        out += all[i] + "\n";
    return out;
}

// The bus tool prints a table member that has no name (GetNodeList's nodes) without a key, which
// is not JSON; such members get the key "" here.
std::string KeyUnnamedMembers(const std::string &text)
{
    std::string out;
    std::vector<char> open;   // the containers around the current position
    bool want_key = false;    // in a table, after '{' or ','
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (want_key && !isspace((unsigned char)c)) {
            want_key = false;
            bool keyed = false;
            if (c == '"') {
                size_t end = i + 1;
                while (end < text.size() && text[end] != '"')
                    end += text[end] == '\\' ? 2 : 1;
                size_t next = text.find_first_not_of(" \t\n", end + 1);
                keyed = next != std::string::npos && text[next] == ':';
            }
            if (!keyed && c != '}')
                out += "\"\": ";
        }
        out.push_back(c);
        if (c == '"') {
            for (i++; i < text.size() && text[i] != '"'; i++) {
                out.push_back(text[i]);
                if (text[i] == '\\' && i + 1 < text.size())
                    out.push_back(text[++i]);
            }
            if (i < text.size())
                out.push_back(text[i]);
        } else if (c == '{' || c == '[') {
            open.push_back(c);
            want_key = c == '{';
        } else if (c == '}' || c == ']') {
            if (!open.empty())
                open.pop_back();
        } else if (c == ',') {
            want_key = !open.empty() && open.back() == '{';
        }
    }
    return out;
}

} // namespace

std::string Reply::Get(const std::string &path) const
{
    json_object *doc = json_tokener_parse(KeyUnnamedMembers(text).c_str());
    if (!doc)
        return "";
    json_object *cur = doc;
    std::istringstream keys(path);
    for (std::string key; cur && std::getline(keys, key, '.');) {
        json_object *next = nullptr;
        cur = json_object_object_get_ex(cur, key.c_str(), &next) ? next : nullptr;
    }
    std::string out;
    if (cur)
        out = json_object_get_type(cur) == json_type_string ? json_object_get_string(cur)
                                                            : json_object_to_json_string_ext(cur, JSON_C_TO_STRING_PLAIN);
    json_object_put(doc);
    return out;
}

std::string Reply::Status() const
{
    std::string s = Get("result.status");
    return s.empty() ? Get("error.data.status") : s;
}

bool WaitFor(int timeout_ms, const std::function<bool()> &pred)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            out.push_back(line);
    return out;
}

void EditScenario(const std::string &statement)
{
    std::string path = kState + "/scenario.json";
    std::string script = "import json, sys\np = sys.argv[1]\nd = json.load(open(p))\n" + statement +
                         "\nopen(p + '.new', 'w').write(json.dumps(d))\n";
    ASSERT_EQ(0, ZND_TestSh("/usr/bin/python3 -c " + ZND_TestQuote(script) + " " + path + " && mv " + path +
                            ".new " + path));
}

void RouterSession::SetUp()
{
    setenv("ZUNARO_BUILD", ZND_BUILD_DIR, 1);
    ASSERT_EQ(0, ZND_TestSh(kRouter + " up " + UpOptions() + " >/tmp/sim-up.log 2>&1"))
        << ZND_TestReadFile("/tmp/sim-up.log");
    ASSERT_EQ(0, Sim("daemon start")) << ZND_TestReadFile(kCmdLog);
}

void RouterSession::TearDown()
{
    if (HasFailure()) {
        printf("--- key log\n%s--- daemon log (end)\n%s--- services log\n%s--- sim\n%s", KeyLog().c_str(),
               Tail(DaemonLog(), 60).c_str(), ZND_TestReadFile(kState + "/log/services.log").c_str(),
               ZND_TestShOut(kRouter + " status 2>&1").c_str());
    }
    // The daemon ends cleanly on SIGTERM; the sanitizer builds report into its log.
    EXPECT_EQ(0, Sim("daemon stop"));
    std::string log = DaemonLog();
    for (const char *report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"})
        EXPECT_EQ(std::string::npos, log.find(report)) << Tail(log, 80);
    EXPECT_EQ(0, Sim("down"));
}

int RouterSession::Sim(const std::string &args)
{
    return ZND_TestSh(kRouter + " " + args + " >>" + kCmdLog + " 2>&1");
}

int RouterSession::InRouter(const std::string &cmd)
{
    return Sim("exec /bin/sh -c " + ZND_TestQuote(cmd));
}

int RouterSession::InRouterBackground(const std::string &script)
{
    return ZND_TestSh("(" + kRouter + " exec /bin/sh -c " + ZND_TestQuote(script) + " >/dev/null 2>&1 &) >/dev/null 2>&1");
}

std::string RouterSession::InRouterOut(const std::string &cmd)
{
    return ZND_TestShOut(kRouter + " exec /bin/sh -c " + ZND_TestQuote(cmd) + " 2>>" + kCmdLog);
}

Reply RouterSession::Rpc(const std::string &method, const std::vector<std::string> &params)
{
    std::string json = "{\"method\": " + JsonString(method);
    if (!params.empty()) {
        json += ", \"params\": [";
        for (size_t i = 0; i < params.size(); i++)
            json += (i ? ", " : "") + JsonString(params[i]);
        json += "]";
    }
    return RpcJson(json + ", \"id\": 1}");
}

Reply RouterSession::RpcJson(const std::string &json)
{
    Reply r;
    r.exitCode = ZND_TestSh(kRouter + " " ZND_TEST_BUS_CLIENT " call zunaro rpc " + ZND_TestQuote(json) + " >" + kRpcOut +
                            " 2>>" + kCmdLog);
    r.text = ZND_TestReadFile(kRpcOut);
    return r;
}

CtlRun RouterSession::Ctl(const std::string &args, const std::string &input)
{
    CtlRun r;
    r.exitCode = ZND_TestSh(kRouter + " ctl " + args + " <" + ZND_TestQuote(input) + " >" + kCtlOut + " 2>" + kCtlErr);
    r.out = ZND_TestReadFile(kCtlOut);
    r.err = ZND_TestReadFile(kCtlErr);
    return r;
}

std::string RouterSession::UserinfoOption(const std::string &option)
{
    std::string prefix = "option " + option + " ";
    for (const auto &line : Lines(InRouterOut("cat /etc/config/userinfo"))) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line.compare(at, prefix.size(), prefix) != 0)
            continue;
        std::string value = line.substr(at + prefix.size());
        if (value.size() >= 2 && (value[0] == '\'' || value[0] == '"'))
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return "";
}

bool RouterSession::WaitForState(const std::string &state, int timeout_ms)
{
    return WaitFor(timeout_ms, [&] { return Rpc("GetStatus").Status() == state; });
}

void RouterSession::LoginAndAccelerate(const std::string &mode)
{
    Reply login = Rpc("Login", {"demo", "zunaro-demo"});
    ASSERT_EQ("LOGIN_OK", login.Get("result.status")) << login.text;
    Reply start = Rpc("AccStart", {mode, "0", "", "1"});
    ASSERT_EQ("ACCING", start.Get("result.status")) << start.text;
    ASSERT_TRUE(WaitForState("ACC_OK", 45000)) << Rpc("GetStatus").text;
}

void RouterSession::AfterASupervisionCheck()
{
    ASSERT_EQ("ACC_OK", Rpc("DebugOn").Status());
    const std::string healthy = "Acc state is normal, reset the reconn timer";
    auto checks = [&] {
        std::string log = DaemonLog();
        int n = 0;
        for (size_t at = log.find(healthy); at != std::string::npos; at = log.find(healthy, at + 1))
            n++;
        return n;
    };
    int before = checks();
    ASSERT_TRUE(WaitFor(15000, [&] { return checks() > before; })) << "no check of supervision";
}

std::string RouterSession::KeyLog() const
{
    return ZND_TestReadFile(kState + "/root/tmp/zunaro.log");
}

int RouterSession::KeyLogCount(const std::string &text) const
{
    int n = 0;
    for (const auto &line : Lines(KeyLog()))
        n += line.find("]: " + text) != std::string::npos;
    return n;
}

bool RouterSession::WaitForKeyLog(const std::string &text, int count, int timeout_ms) const
{
    return WaitFor(timeout_ms, [&] { return KeyLogCount(text) >= count; });
}

std::string RouterSession::DaemonLog() const
{
    // Through the sim, which waits until the router's system log has written what it was sent.
    return ZND_TestShOut(kRouter + " daemon log 2>>" + kCmdLog);
}

std::vector<std::string> RouterSession::ServicesLog() const
{
    return Lines(ZND_TestReadFile(kState + "/log/services.log"));
}

std::vector<std::string> RouterSession::Routes(int table)
{
    return Lines(InRouterOut("ip route show table " + std::to_string(table) + " 2>/dev/null"));
}

std::string RouterSession::Rules()
{
    return InRouterOut("ip rule show");
}

bool RouterSession::LinkExists(const std::string &dev)
{
    return InRouter("ip link show dev " + dev + " >/dev/null 2>&1") == 0;
}

void RouterSession::ListenOnLan(int count, double timeout_s)
{
    listeners_++;
    std::string base = kState + "/run/lan-" + std::to_string(listeners_);
    char args[64];
    snprintf(args, sizeof args, " listen 7168 --count %d --timeout %g", count, timeout_s);
    std::string cmd = kRouter + " lan /usr/bin/python3 " + kState + "/lib/lanclient.py" + args + " --ready " + base +
                      ".ready >" + base + ".out 2>&1; echo $? >" + base + ".rc";
    ASSERT_EQ(0, ZND_TestSh("(" + cmd + ") >/dev/null 2>&1 &"));
    ASSERT_TRUE(WaitFor(5000, [&] { return ZND_TestFileExists(base + ".ready"); })) << "LAN listener not ready";
}

std::string RouterSession::Heard()
{
    std::string base = kState + "/run/lan-" + std::to_string(listeners_);
    EXPECT_TRUE(WaitFor(60000, [&] { return ZND_TestFileExists(base + ".rc"); })) << "LAN listener still running";
    return ZND_TestReadFile(base + ".out");
}

void RouterSession::SetCloudOnlines(int onlines)
{
    std::string script = "import json, sys\n"
                         "p = sys.argv[1]\n"
                         "d = json.load(open(p))\n"
                         "d['accounts']['demo']['onlines'] = int(sys.argv[2])\n"
                         "open(p + '.new', 'w').write(json.dumps(d))\n";
    std::string path = kState + "/scenario.json";
    ASSERT_EQ(0, ZND_TestSh("/usr/bin/python3 -c " + ZND_TestQuote(script) + " " + path + " " + std::to_string(onlines) +
                            " && mv " + path + ".new " + path));
}

} // namespace e2e
