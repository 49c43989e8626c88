// The key log: a short history of the important steps, one flushed line per entry.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"

#define ZND_KEYLOG_MSG_SIZE 1024

void ZND_KeyLog(const char *fmt, ...)
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
    fwrite(entry, 1, (size_t)len, g_znd.keyLogFile);
    fflush(g_znd.keyLogFile);
}
