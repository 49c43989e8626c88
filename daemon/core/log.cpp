// Syslog lines, the debug switch and the shell runner entry of the daemon.
#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include "core/context.h"
#include "platform/shell.h"
#include "platform/syslog.h"

void ZND_LogLine(int priority, const char *fmt, ...)
{
    char small[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if ((size_t)n < sizeof small) {
        ZND_LogWrite(priority, small);
        return;
    }
    // Cloud commands and replies can be long; never cut a line.
    std::string big((size_t)n + 1, '\0');
    va_start(ap, fmt);
    vsnprintf(&big[0], big.size(), fmt, ap);
    va_end(ap);
    ZND_LogWrite(priority, big.c_str());
}

int ZND_IsDebugOn()
{
    return g_znd.debugFlag;
}

void ZND_DebugOn()
{
    g_znd.debugFlag = 1;
}

void ZND_DebugOff()
{
    g_znd.debugFlag = 0;
}

int ZND_System(const char *cmd)
{
    return ZND_ShellRun(cmd);
}
