// Syslog lines, the debug switch, the key log and the shell runner entry of the daemon. The key
// log is a short history of the important steps, one whole line per entry or none.
#include "core/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include "core/context.h"
#include "core/paths.h"
#include "platform/shell.h"
#include "platform/syslog.h"

std::string ZND_LogEscape(const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (c >= 0x20 && c != 0x7f) {
            out += (char)c;
            continue;
        }
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
        }
    }
    return out;
}

void ZND_LogLineEscaped(int priority, const char *fmt, ...)
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

#define ZND_KEYLOG_MSG_SIZE 1024

namespace {

// One write per entry, past the stream's buffer: on a full /tmp a cut entry is taken back, so
// that the file holds whole lines only and the next entry starts a line of its own.
void key_log_append(int fd, const char *entry, size_t len)
{
    struct stat st;
    off_t start = fstat(fd, &st) == 0 ? st.st_size : -1;
    ssize_t n = write(fd, entry, len);
    if (n == (ssize_t)len)
        return;
    int err = n < 0 ? errno : ENOSPC;
    if (n > 0 && (start < 0 || ftruncate(fd, start) != 0))
        ZND_ERROR("key log %s: cut line not taken back", ZND_PATH_KEY_LOG);
    ZND_ERROR("key log %s: line not written: %s", ZND_PATH_KEY_LOG, strerror(err));
}

} // namespace

void ZND_KeyLogEscaped(const char *fmt, ...)
{
    char msg[ZND_KEYLOG_MSG_SIZE];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);

    char when[32] = "";
    time_t now = time(nullptr);
    if (ctime_r(&now, when)) {
        size_t len = strlen(when);
        if (len > 0)
            when[len - 1] = '\0';
    }

    char entry[sizeof when + ZND_KEYLOG_MSG_SIZE + 8];
    int len = snprintf(entry, sizeof entry, "[%s]: %s\n", when, msg);

    if (!g_znd.keyLogFile) {
        g_znd.keyLogFile = fopen(ZND_PATH_KEY_LOG, "a+");
        if (!g_znd.keyLogFile) {
            ZND_ERROR("fopen log file %s error", ZND_PATH_KEY_LOG);
            return;
        }
    }
    key_log_append(fileno(g_znd.keyLogFile), entry, (size_t)len);
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

int ZND_SystemInput(const char *cmd, const char *input)
{
    return ZND_ShellRunInput(cmd, input);
}
