// Shell command runner. Every command of the daemon goes through here, so that unit tests
// can record the command text and script its status and output.
#pragma once
#include <string>

struct ZND_ShellOps {
    // Runs the command through /bin/sh; returns the status that system() reports.
    int (*run)(const char *cmd);
    // Runs the command and collects its standard output; 0 when it could be started, -1 if not.
    int (*read)(const char *cmd, std::string *out);
    // Runs the command with input as its standard input (then end of file); the status as for run,
    // -1 when it could not be started. A secret goes this way, never on a command line, which any
    // process can read in /proc while the command runs.
    int (*run_input)(const char *cmd, const char *input);
};

// Installs ops (nullptr restores the real runner); returns the ops in force before.
const ZND_ShellOps *ZND_ShellSetOps(const ZND_ShellOps *ops);
int ZND_ShellRun(const char *cmd);
int ZND_ShellRead(const char *cmd, std::string *out);
int ZND_ShellRunInput(const char *cmd, const char *input);
