// Shell command runner. Every command of the daemon goes through here, so that unit tests
// can record the command text and script its status and output.
#pragma once
#include <string>

struct ZND_ShellOps {
    // Runs the command through /bin/sh; returns the status that system() reports.
    int (*run)(const char *cmd);
    // Runs the command and collects its standard output; 0 when it could be started, -1 if not.
    int (*read)(const char *cmd, std::string *out);
};

// Installs ops (nullptr restores the real runner); returns the ops in force before.
const ZND_ShellOps *ZND_ShellSetOps(const ZND_ShellOps *ops);
int ZND_ShellRun(const char *cmd);
int ZND_ShellRead(const char *cmd, std::string *out);
