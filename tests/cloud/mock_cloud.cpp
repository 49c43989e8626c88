#include "mock_cloud.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <json-c/json.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include "core/build_config.h"
#include "harness/sandbox.h"

namespace {

const char kDir[] = "/tmp/mockcloud";
const char kScenario[] = "/tmp/mockcloud/scenario.json";
const char kLog[] = "/tmp/mockcloud/requests.log";
const char kReady[] = "/tmp/mockcloud/ready";

std::string member(json_object *obj, const char *key)
{
    json_object *m = nullptr;
    if (!json_object_object_get_ex(obj, key, &m) || !m)
        return "";
    return json_object_get_string(m);
}

} // namespace

std::string MockCloud::FallbackAddr()
{
    return ZND_CLOUD_FALLBACK;
}

bool MockCloudPrepareNetwork()
{
    for (const char *var : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(var);
    setenv("no_proxy", "*", 1);
    std::string hosts = ZND_TestReadFile("/etc/hosts");
    hosts += std::string("\n127.0.0.2 ") + ZND_CLOUD_PRIMARY + "\n127.0.0.3 " + ZND_CLOUD_SECONDARY + "\n";
    if (!ZND_TestWriteFile("/etc/hosts", hosts))
        return false;
    return ZND_TestSh(std::string("ip addr add ") + ZND_CLOUD_FALLBACK + "/32 dev lo") == 0;
}

MockCloud::MockCloud()
{
    mkdir(kDir, 0755);
    SetScenario("{}");
}

MockCloud::~MockCloud()
{
    Stop();
}

void MockCloud::SetScenario(const std::string &json)
{
    // Written aside and renamed, so that the service never reads half a file.
    std::string tmp = std::string(kScenario) + ".new";
    ZND_TestWriteFile(tmp, json);
    rename(tmp.c_str(), kScenario);
}

bool MockCloud::Start(const std::vector<std::string> &addrs)
{
    unlink(kReady);
    std::vector<std::string> args = {"/usr/bin/python3", ZND_MOCKCLOUD_PY, "--scenario", kScenario,
                                     "--log",            kLog,             "--ready",    kReady};
    for (const auto &a : addrs) {
        args.push_back("--listen");
        args.push_back(a + ":80");
    }
    pid_ = fork();
    if (pid_ == 0) {
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid_ < 0)
        return false;
    for (int i = 0; i < 250; i++) {
        if (ZND_TestFileExists(kReady))
            return true;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void MockCloud::Stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::vector<MockCloud::Request> MockCloud::Requests() const
{
    std::vector<Request> out;
    std::istringstream in(ZND_TestReadFile(kLog));
    std::string line;
    while (std::getline(in, line)) {
        json_object *obj = json_tokener_parse(line.c_str());
        if (!obj)
            continue;
        out.push_back({member(obj, "server"), member(obj, "path"), member(obj, "user"), member(obj, "password"),
                       member(obj, "authorization"), member(obj, "body")});
        json_object_put(obj);
    }
    return out;
}
