// Log sink: the system log, mirrored to standard error when that is a terminal, so that a daemon
// started by hand shows its lines. Anywhere else standard error is a log of its own (procd hands
// it to the system log, with the output of the commands the daemon runs): a copy there would log
// every line twice, the copy at the wrong level.
#include "platform/syslog.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

void system_sink(int priority, const char *line)
{
    syslog(priority, "%s", line);
    if (isatty(STDERR_FILENO)) {
        fprintf(stderr, "<%d>%s", priority, line);
        fflush(stderr);
    }
}

ZND_LogSinkFn g_sink = system_sink;

} // namespace

ZND_LogSinkFn ZND_LogSetSink(ZND_LogSinkFn fn)
{
    ZND_LogSinkFn old = g_sink;
    g_sink = fn ? fn : system_sink;
    return old;
}

void ZND_LogWrite(int priority, const char *line)
{
    g_sink(priority, line);
}

void ZND_LogPlatform(int priority, int line, const char *func, const char *fmt, ...)
{
    char msg[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    std::string text = priority <= LOG_ERR ? "[ZND_ERROR]  " : "[ZND_INFO]  ";
    text += msg;
    text += "  [line:" + std::to_string(line) + "] [" + func + "]\n";
    ZND_LogWrite(priority, text.c_str());
}
