// A small network for echo probes, built inside the sandbox's network namespace: the namespace
// "nodes" is reached over a veth pair and holds the node addresses 198.18.1.1 to 198.18.1.N.
// Its kernel ignores echo requests; a responder process answers them instead, each address with
// its own delays, so that round-trip times are known and larger than a millisecond.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

class IcmpLab {
public:
    struct Answer {
        std::vector<int> delays_ms;   // delay of the 1st, 2nd, ... request
        bool repeat_last = true;      // after the list: keep the last delay, or stay silent
        int64_t time_shift_s = 0;     // added to the echoed send time: a reply that lies
    };

    IcmpLab() = default;
    ~IcmpLab();   // stops the responder

    // Creates the namespace, the link and node_count addresses; false with a reason on failure.
    bool Build(int node_count, std::string *why);
    static std::string NodeAddr(int i);   // i from 1
    // Starts the responder; addresses not in answers never answer.
    bool StartResponder(const std::map<std::string, Answer> &answers);
    void StopResponder();
    // Echo requests that reached the responder, per destination address.
    std::map<std::string, int> RequestsSeen() const;

private:
    pid_t responder_ = -1;
};
