// Log sink for the daemon's three line kinds; the line is already formatted.
#pragma once
#include <syslog.h>

typedef void (*ZND_LogSinkFn)(int priority, const char *line);

// Installs a sink (nullptr restores the system one); returns the sink in force before.
ZND_LogSinkFn ZND_LogSetSink(ZND_LogSinkFn fn);
void ZND_LogWrite(int priority, const char *line);

// Lines of the platform code itself, in the daemon's format: "[ZND_ERROR]  " or "[ZND_INFO]  ",
// the message, then "  [line:%d] [%s]\n" with the source line and function.
void ZND_LogPlatform(int priority, int line, const char *func, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
#define ZND_PLATFORM_ERROR(fmt, ...) ZND_LogPlatform(LOG_ERR, __LINE__, __func__, fmt, ##__VA_ARGS__)
#define ZND_PLATFORM_INFO(fmt, ...) ZND_LogPlatform(LOG_INFO, __LINE__, __func__, fmt, ##__VA_ARGS__)
