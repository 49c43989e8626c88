// Runs the real zunarod as a child process of a sandboxed test, on a ubusd of its own unless the
// test runs one, with a system log of its own: a private /dev whose /dev/log is read by
// sim/lib/syslogd.py into the daemon's log file, where the daemon's output goes too, as procd
// hands a daemon's output to the system log.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>
#include "harness/ubusd.h"

class DaemonProcess {
public:
    explicit DaemonProcess(std::string binary = ZND_TEST_ZUNAROD);
    ~DaemonProcess();   // kills a daemon that is still running

    // Directories put first in PATH (fake commands), before the machine's own.
    void PrependPath(const std::string &dir) { path_dirs_.push_back(dir); }
    // Starts the daemon, and before it a private ubusd when none serves the default socket.
    bool Start();
    pid_t pid() const { return pid_; }

    // Waits until the key log holds a line containing text.
    bool WaitForKeyLog(const std::string &text, int timeout_ms) const;
    // Waits until the daemon's log (its system log lines and its output) holds a line containing
    // text.
    bool WaitForLog(const std::string &text, int timeout_ms) const;
    // The log; once the daemon has ended, all of it.
    std::string Log() const;
    // Lines of the log that contain text.
    int LogCount(const std::string &text) const;

    // Sends sig and waits for the exit; returns the exit code, or 128 + signal, or -1 on timeout.
    int Stop(int sig, int timeout_ms = 10000);
    // Waits for the exit without signalling.
    int Wait(int timeout_ms);
    bool Running() const { return pid_ > 0; }

private:
    bool StartSyslog();
    // Returns once every line sent to the system log before the call is in the log file.
    bool SyncLog();
    std::string binary_;
    std::string log_path_;
    std::vector<std::string> path_dirs_;
    pid_t pid_ = -1;
    pid_t syslog_pid_ = -1;
    int syncs_ = 0;
    UbusdProcess ubusd_;
};

// Polls pred every 20 ms until it holds or timeout_ms passed.
bool ZND_TestWaitUntil(int timeout_ms, bool (*pred)(const void *), const void *arg);
