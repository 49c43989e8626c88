// Shell runner. SIGCHLD is put back to its default disposition while a command runs, so that the
// exit status can be collected even when the caller ignores SIGCHLD.
#include "platform/shell.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// A signal's disposition for the lifetime of the object.
class ScopedSignal {
public:
    ScopedSignal(int sig, void (*handler)(int)) : sig_(sig)
    {
        struct sigaction sa = {};
        sa.sa_handler = handler;
        sigemptyset(&sa.sa_mask);
        sigaction(sig_, &sa, &saved_);
    }
    ~ScopedSignal() { sigaction(sig_, &saved_, nullptr); }
    ScopedSignal(const ScopedSignal &) = delete;
    ScopedSignal &operator=(const ScopedSignal &) = delete;

private:
    int sig_;
    struct sigaction saved_;
};

class DefaultChildSignal : public ScopedSignal {
public:
    DefaultChildSignal() : ScopedSignal(SIGCHLD, SIG_DFL) {}
};

int real_run(const char *cmd)
{
    DefaultChildSignal guard;
    return system(cmd);
}

int real_read(const char *cmd, std::string *out)
{
    DefaultChildSignal guard;
    out->clear();
    FILE *fp = popen(cmd, "r");
    if (!fp)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        out->append(buf, n);
    pclose(fp);
    return 0;
}

int real_run_input(const char *cmd, const char *input)
{
    DefaultChildSignal guard;
    // A command that ends without reading all of its input gives EPIPE here, not the end of the caller.
    ScopedSignal no_broken_pipe(SIGPIPE, SIG_IGN);
    FILE *fp = popen(cmd, "w");
    if (!fp)
        return -1;
    fputs(input, fp);
    return pclose(fp);
}

const ZND_ShellOps g_real_ops = {real_run, real_read, real_run_input};
const ZND_ShellOps *g_ops = &g_real_ops;

} // namespace

const ZND_ShellOps *ZND_ShellSetOps(const ZND_ShellOps *ops)
{
    const ZND_ShellOps *old = g_ops;
    g_ops = ops ? ops : &g_real_ops;
    return old;
}

int ZND_ShellRun(const char *cmd)
{
    return g_ops->run(cmd);
}

int ZND_ShellRead(const char *cmd, std::string *out)
{
    return g_ops->read(cmd, out);
}

int ZND_ShellRunInput(const char *cmd, const char *input)
{
    return g_ops->run_input(cmd, input);
}
