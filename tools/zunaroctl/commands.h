// The commands a person types: each makes its requests to the daemon's "rpc" method, prints the
// outcome plainly (or the raw replies with --json) and returns the exit code.
#pragma once
#include <string>

// Exit codes of the commands below (`call` and `list` exit with the bus status instead).
enum {
    ZCTL_EXIT_OK = 0,
    ZCTL_EXIT_USAGE = 1,          // wrong arguments, or no password given
    ZCTL_EXIT_REFUSED = 2,        // the daemon refused the request, or the named node is not listed
    ZCTL_EXIT_NOT_RUNNING = 3,    // nobody serves the daemon's object
    ZCTL_EXIT_ACC_FAILED = 4,     // start: acceleration ended without ACC_OK
    ZCTL_EXIT_WAIT_TIMEOUT = 5,   // start: still no outcome when the wait ended
    ZCTL_EXIT_BUS = 6,            // the call failed otherwise (time-out, no answer)
    ZCTL_EXIT_NOT_RECORDED = 7,   // done, but the state could not be recorded for the restore
};

struct ZCTL_Options {
    const char *socket = nullptr;   // bus socket, nullptr: the default
    int timeoutMs = 30000;          // per request
    bool json = false;              // print the raw replies
};

// Acceleration modes by name, as AccStart numbers them; -1 for an unknown name.
int ZCTL_ModeByName(const char *name);

int ZCTL_Status(const ZCTL_Options &o);
int ZCTL_Login(const ZCTL_Options &o, const char *user);
int ZCTL_Logout(const ZCTL_Options &o);
int ZCTL_Nodes(const ZCTL_Options &o);
// node: "" for the best node, a node id, or a node name. waitS 0: return at ACCING.
int ZCTL_Start(const ZCTL_Options &o, int mode, const std::string &node, bool reconnect, int waitS);
int ZCTL_Stop(const ZCTL_Options &o);
int ZCTL_Result(const ZCTL_Options &o);
int ZCTL_Log();
int ZCTL_Debug(const ZCTL_Options &o, bool on);
