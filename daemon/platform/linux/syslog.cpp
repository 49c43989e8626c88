// Log sink: the system log, mirrored to standard error so that a daemon started by hand or by a
// test shows its lines even where no syslog daemon runs.
#include "platform/syslog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

void system_sink(int priority, const char *line)
{
    syslog(priority, "%s", line);
    fprintf(stderr, "<%d>%s", priority, line);
    fflush(stderr);
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
