// Runs the mock cloud service (sim/mockcloud/mockcloud.py) inside a sandboxed test, on port 80 of
// the cloud server addresses: the two host names resolve to 127.0.0.2 and 127.0.0.3 through the
// sandbox's /etc/hosts, and the fallback address is added to lo.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

class MockCloud {
public:
    struct Request {
        std::string server;   // "ADDR:PORT" of the listener
        std::string path;
        std::string user;
        std::string password;
        std::string authorization;   // the header as it came
        std::string body;
    };

    MockCloud();
    ~MockCloud();   // stops the service

    static const char *PrimaryAddr() { return "127.0.0.2"; }
    static const char *SecondaryAddr() { return "127.0.0.3"; }
    static std::string FallbackAddr();

    // Writes the scenario (JSON text); the running service picks up the change at its next request.
    void SetScenario(const std::string &json);
    // Starts listeners on port 80 of the given addresses; the others stay unreachable.
    bool Start(const std::vector<std::string> &addrs);
    void Stop();
    std::vector<Request> Requests() const;

private:
    pid_t pid_ = -1;
};

// Makes the names and addresses of the cloud servers local and drops proxy settings.
bool MockCloudPrepareNetwork();
