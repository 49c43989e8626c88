// The router's bus daemon, private to a sandboxed test: ubusd on the default socket, which the
// sandbox's own /run holds, or on a socket of the test's.
#pragma once
#include <sys/types.h>
#include "platform/bus.h"

class UbusdProcess {
public:
    UbusdProcess() = default;
    ~UbusdProcess() { Stop(); }
    UbusdProcess(const UbusdProcess &) = delete;
    UbusdProcess &operator=(const UbusdProcess &) = delete;

    // Starts ubusd and waits until it accepts connections; false when it did not come up.
    bool Start(const char *socket = ZND_BUS_DEFAULT_SOCKET);
    void Stop();
    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};
