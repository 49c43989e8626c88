// Logging: three syslog line kinds, the debug switch, the key log, and the shell runner.
#pragma once
#include <syslog.h>

void ZND_LogLine(int priority, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void ZND_KeyLog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#define ZND_LOG_SUFFIX "  [line:%d] [%s]\n"
#define ZND_ERROR(fmt, ...) \
    ZND_LogLine(LOG_ERR, "[ZND_ERROR]  " fmt ZND_LOG_SUFFIX, ##__VA_ARGS__, __LINE__, __func__)
#define ZND_INFO(fmt, ...) \
    ZND_LogLine(LOG_INFO, "[ZND_INFO]  " fmt ZND_LOG_SUFFIX, ##__VA_ARGS__, __LINE__, __func__)
#define ZND_DBG(fmt, ...)                                                                         \
    do {                                                                                          \
        if (ZND_IsDebugOn())                                                                      \
            ZND_LogLine(LOG_DEBUG, "[ZND_DBG]  " fmt ZND_LOG_SUFFIX, ##__VA_ARGS__, __LINE__, __func__); \
    } while (0)
#define ZND_KEYLOG(fmt, ...) ZND_KeyLog(fmt, ##__VA_ARGS__)

int ZND_IsDebugOn();
void ZND_DebugOn();
void ZND_DebugOff();

// Runs a command through the shell; returns the status that system() reports.
int ZND_System(const char *cmd);
