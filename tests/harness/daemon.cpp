#include "harness/daemon.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include "harness/sandbox.h"
#include "platform/bus.h"

namespace {

bool file_contains(const std::string &path, const std::string &text)
{
    return ZND_TestReadFile(path).find(text) != std::string::npos;
}

template <typename Pred> bool wait_for(int timeout_ms, Pred pred)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int exit_code(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

bool ZND_TestWaitUntil(int timeout_ms, bool (*pred)(const void *), const void *arg)
{
    return wait_for(timeout_ms, [&] { return pred(arg); });
}

DaemonProcess::DaemonProcess(std::string binary) : binary_(std::move(binary)), log_path_("/tmp/zunarod.log")
{
}

DaemonProcess::~DaemonProcess()
{
    if (pid_ > 0)
        Stop(SIGKILL, 5000);
    if (syslog_pid_ > 0) {
        kill(syslog_pid_, SIGKILL);
        waitpid(syslog_pid_, nullptr, 0);
    }
}

bool DaemonProcess::StartSyslog()
{
    std::string why;
    if (!ZND_TestPrivateDev(&why)) {
        fprintf(stderr, "no private /dev for the daemon's log: %s\n", why.c_str());
        return false;
    }
    const char *ready = "/tmp/zunarod-syslog.ready";
    unlink(ready);
    syslog_pid_ = fork();
    if (syslog_pid_ < 0)
        return false;
    if (syslog_pid_ == 0) {
        execl("/usr/bin/python3", "python3", ZND_TEST_SYSLOGD, "/dev/log", log_path_.c_str(), ready, (char *)nullptr);
        _exit(127);
    }
    return wait_for(10000, [&] { return access(ready, F_OK) == 0; });
}

bool DaemonProcess::SyncLog()
{
    if (syslog_pid_ <= 0)
        return false;
    std::string marker = "harness log sync " + std::to_string(++syncs_);
    std::string msg = "<15>" + marker + "\n";
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "/dev/log");
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool sent = fd >= 0 && sendto(fd, msg.data(), msg.size(), 0, (struct sockaddr *)&addr, sizeof addr) ==
                               (ssize_t)msg.size();
    if (fd >= 0)
        close(fd);
    // One socket, read in order: the marker comes after every line sent before it.
    return sent && wait_for(5000, [&] { return file_contains(log_path_, marker + "\n"); });
}

bool DaemonProcess::Start()
{
    if (access(ZND_BUS_DEFAULT_SOCKET, F_OK) != 0 && !ubusd_.Start())
        return false;
    std::string path;
    for (const auto &d : path_dirs_)
        path += d + ":";
    path += "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    if (syslog_pid_ > 0) {
        // The log of this run only.
        if (!SyncLog() || truncate(log_path_.c_str(), 0) != 0)
            return false;
    } else {
        unlink(log_path_.c_str());
        if (!StartSyslog())
            return false;
    }
    pid_ = fork();
    if (pid_ < 0)
        return false;
    if (pid_ == 0) {
        int fd = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        setenv("PATH", path.c_str(), 1);
        execl(binary_.c_str(), binary_.c_str(), (char *)nullptr);
        _exit(127);
    }
    return true;
}

bool DaemonProcess::WaitForKeyLog(const std::string &text, int timeout_ms) const
{
    return wait_for(timeout_ms, [&] { return file_contains("/tmp/zunaro.log", text); });
}

bool DaemonProcess::WaitForLog(const std::string &text, int timeout_ms) const
{
    return wait_for(timeout_ms, [&] { return file_contains(log_path_, text); });
}

std::string DaemonProcess::Log() const
{
    return ZND_TestReadFile(log_path_);
}

int DaemonProcess::LogCount(const std::string &text) const
{
    std::string log = Log();
    int n = 0;
    for (size_t at = 0, end; at < log.size(); at = end + 1) {
        end = log.find('\n', at);
        if (end == std::string::npos)
            end = log.size();
        n += log.substr(at, end - at).find(text) != std::string::npos;
    }
    return n;
}

int DaemonProcess::Wait(int timeout_ms)
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    bool done = wait_for(timeout_ms, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!done)
        return -1;
    pid_ = -1;
    SyncLog();
    return exit_code(status);
}

int DaemonProcess::Stop(int sig, int timeout_ms)
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, sig);
    int rc = Wait(timeout_ms);
    if (rc == -1 && pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait(5000);
    }
    return rc;
}
