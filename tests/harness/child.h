// Processes run by bus tests while this process serves the event loop.
#pragma once
#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include "harness/sandbox.h"
#include "harness/serve_until.h"

// Forks; the child runs fn and exits with its value while the loop serves. Returns the exit code,
// -1 when the child did not end within timeout_ms (it is killed then).
inline int RunChild(const std::function<int()> &fn, int timeout_ms = 20000)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    if (!ZND_TestServeUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout_ms)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct CliResult {
    int exit;
    std::string out;
    std::string err;
};

// Runs a command-line program (argv[0] a path) with the loop serving; its output is collected.
inline CliResult RunCli(const std::vector<std::string> &args)
{
    std::vector<std::string> copy = args;
    std::vector<char *> argv;
    for (auto &a : copy)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    CliResult r;
    r.exit = RunChild([&] {
        int out = open("/tmp/cli.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open("/tmp/cli.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        return 127;
    });
    r.out = ZND_TestReadFile("/tmp/cli.out");
    r.err = ZND_TestReadFile("/tmp/cli.err");
    return r;
}
