#include "password.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

struct termios g_saved;

// An interrupted prompt gives the terminal its echo back before the signal ends the program.
void restore_and_raise(int sig)
{
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    signal(sig, SIG_DFL);
    raise(sig);
}

bool read_line(std::string *out)
{
    out->clear();
    char c;
    for (;;) {
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !out->empty();
        if (c == '\n')
            break;
        out->push_back(c);
    }
    if (!out->empty() && out->back() == '\r')
        out->pop_back();
    return true;
}

} // namespace

bool ZCTL_ReadPassword(std::string *password)
{
    if (!isatty(STDIN_FILENO))
        return read_line(password) && !password->empty();
    if (tcgetattr(STDIN_FILENO, &g_saved) != 0)
        return false;
    struct termios quiet = g_saved;
    quiet.c_lflag &= ~(tcflag_t)ECHO;
    quiet.c_lflag |= ECHONL;
    struct sigaction sa = {}, old_int = {}, old_term = {};
    sa.sa_handler = restore_and_raise;
    sigaction(SIGINT, &sa, &old_int);
    sigaction(SIGTERM, &sa, &old_term);
    fputs("Password: ", stderr);
    fflush(stderr);
    bool ok = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0 && read_line(password);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    return ok && !password->empty();
}

void ZCTL_Forget(std::string *secret)
{
    volatile char *p = secret->empty() ? nullptr : &(*secret)[0];
    for (size_t i = 0; p && i < secret->size(); i++)
        p[i] = 0;
    secret->clear();
}
