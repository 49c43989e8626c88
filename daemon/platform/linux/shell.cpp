// Shell runner of the host backend. SIGCHLD is put back to its default disposition while a command
// runs, so that the exit status can be collected even when the caller ignores SIGCHLD.
#include "platform/shell.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

class DefaultChildSignal {
public:
    DefaultChildSignal()
    {
        struct sigaction sa = {};
        sa.sa_handler = SIG_DFL;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGCHLD, &sa, &saved_);
    }
    ~DefaultChildSignal() { sigaction(SIGCHLD, &saved_, nullptr); }

private:
    struct sigaction saved_;
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

const ZND_ShellOps g_real_ops = {real_run, real_read};
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
