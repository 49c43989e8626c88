// Round trips of command-line bus clients: each command is run CALLS times, the commands taking
// turns so that a busy machine slows them alike; the first command is the reference. Prints the
// mean and median time of a call and each command's ratio to the reference.
//   cmd_roundtrip_bench CALLS -- NAME PROGRAM ARGS... [-- NAME PROGRAM ARGS...]...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Command {
    std::string name;
    std::vector<char *> argv;
    std::vector<double> us;
};

double now_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

// One run with its output discarded; the wall time in microseconds, or -1 when it failed.
double run_once(const Command &c)
{
    double start = now_us();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execv(c.argv[0], c.argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return now_us() - start;
}

double mean(const std::vector<double> &v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return sum / (double)v.size();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int calls = argc > 1 ? atoi(argv[1]) : 0;
    std::vector<Command> cmds;
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "--") == 0) {
            cmds.emplace_back();
            continue;
        }
        if (cmds.empty())
            break;
        if (cmds.back().name.empty())
            cmds.back().name = argv[i];
        else
            cmds.back().argv.push_back(argv[i]);
    }
    for (auto &c : cmds)
        c.argv.push_back(nullptr);
    if (calls <= 0 || cmds.empty() || std::any_of(cmds.begin(), cmds.end(), [](const Command &c) { return c.argv.size() < 2; })) {
        fprintf(stderr, "usage: cmd_roundtrip_bench CALLS -- NAME PROGRAM ARGS... [-- NAME PROGRAM ARGS...]...\n");
        return 2;
    }
    for (int i = 0; i < calls; i++) {
        for (auto &c : cmds) {
            double us = run_once(c);
            if (us < 0) {
                fprintf(stderr, "%s failed\n", c.name.c_str());
                return 1;
            }
            c.us.push_back(us);
        }
    }
    double ref = median(cmds[0].us);
    printf("%-44s %10s %10s %8s\n", "command", "mean us", "median us", "ratio");
    for (const auto &c : cmds)
        printf("%-44s %10.0f %10.0f %7.2fx\n", c.name.c_str(), mean(c.us), median(c.us), median(c.us) / ref);
    printf("(ratio: median against the first line; %d calls each, taking turns)\n", calls);
    return 0;
}
