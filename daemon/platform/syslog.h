// Log sink for the daemon's three line kinds; the line is already formatted.
#pragma once

typedef void (*ZND_LogSinkFn)(int priority, const char *line);

// Installs a sink (nullptr restores the system one); returns the sink in force before.
ZND_LogSinkFn ZND_LogSetSink(ZND_LogSinkFn fn);
void ZND_LogWrite(int priority, const char *line);
