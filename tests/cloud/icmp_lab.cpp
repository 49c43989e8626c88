#include "icmp_lab.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include "cloud/icmp_echo.h"
#include "harness/sandbox.h"

namespace {

const char kSeenLog[] = "/tmp/icmp-lab-seen";
const char kReady[] = "/tmp/icmp-lab-ready";

struct Pending {
    std::chrono::steady_clock::time_point due;
    struct sockaddr_in to;
    std::vector<uint8_t> reply;
};

int64_t ms_until(std::chrono::steady_clock::time_point t)
{
    auto d = std::chrono::duration_cast<std::chrono::milliseconds>(t - std::chrono::steady_clock::now()).count();
    return d < 0 ? 0 : d;
}

[[noreturn]] void responder_main(const std::map<std::string, IcmpLab::Answer> &answers)
{
    int nsfd = open("/run/netns/nodes", O_RDONLY);
    if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0)
        _exit(2);
    int sock = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (sock < 0)
        _exit(3);
    FILE *seen = fopen(kSeenLog, "w");
    ZND_TestWriteFile(kReady, "ready\n");
    std::map<std::string, int> count;
    std::vector<Pending> pending;
    uint8_t buf[1500];
    for (;;) {
        int timeout = -1;
        for (const auto &p : pending) {
            int64_t left = ms_until(p.due);
            if (timeout < 0 || left < timeout)
                timeout = (int)left;
        }
        struct pollfd pfd = {sock, POLLIN, 0};
        if (poll(&pfd, 1, timeout) > 0) {
            struct sockaddr_in from = {};
            socklen_t fl = sizeof from;
            ssize_t n = recvfrom(sock, buf, sizeof buf, 0, reinterpret_cast<struct sockaddr *>(&from), &fl);
            size_t ihl = n > 0 ? (size_t)(buf[0] & 0x0F) * 4 : 0;
            if (n > 0 && (size_t)n >= ihl + 8 && buf[ihl] == 8) {
                char dst[INET_ADDRSTRLEN];
                inet_ntop(AF_INET, buf + 16, dst, sizeof dst);
                int nth = count[dst]++;
                fprintf(seen, "%s\n", dst);
                fflush(seen);
                auto it = answers.find(dst);
                if (it != answers.end() && !it->second.delays_ms.empty()) {
                    const auto &d = it->second.delays_ms;
                    int delay = -1;
                    if ((size_t)nth < d.size())
                        delay = d[nth];
                    else if (it->second.repeat_last)
                        delay = d.back();
                    if (delay >= 0) {
                        Pending p;
                        p.due = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
                        p.to = from;
                        p.reply.assign(buf + ihl, buf + n);
                        p.reply[0] = 0;   // echo reply, same identifier, sequence and data
                        p.reply[2] = p.reply[3] = 0;
                        if (it->second.time_shift_s != 0 && p.reply.size() >= 12) {
                            uint32_t sec;
                            memcpy(&sec, &p.reply[8], 4);
                            sec = (uint32_t)((int64_t)sec + it->second.time_shift_s);
                            memcpy(&p.reply[8], &sec, 4);
                        }
                        uint16_t sum = ZND_IcmpChecksum(p.reply.data(), p.reply.size());
                        memcpy(&p.reply[2], &sum, 2);
                        pending.push_back(p);
                    }
                }
            }
        }
        auto now = std::chrono::steady_clock::now();
        for (size_t i = 0; i < pending.size();) {
            if (pending[i].due <= now) {
                sendto(sock, pending[i].reply.data(), pending[i].reply.size(), 0,
                       reinterpret_cast<struct sockaddr *>(&pending[i].to), sizeof pending[i].to);
                pending.erase(pending.begin() + (long)i);
            } else {
                i++;
            }
        }
    }
}

} // namespace

IcmpLab::~IcmpLab()
{
    StopResponder();
}

std::string IcmpLab::NodeAddr(int i)
{
    return "198.18.1." + std::to_string(i);
}

bool IcmpLab::Build(int node_count, std::string *why)
{
    std::string cmd =
        "set -e; ip netns add nodes; ip link add lab0 type veth peer name lab1; ip link set lab1 netns nodes;"
        "ip addr add 198.18.0.1/24 dev lab0; ip link set lab0 up;"
        "ip route add 198.18.1.0/24 via 198.18.0.2;"
        "ip netns exec nodes ip link set lo up;"
        "ip netns exec nodes ip addr add 198.18.0.2/24 dev lab1; ip netns exec nodes ip link set lab1 up;"
        "ip netns exec nodes sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all';";
    for (int i = 1; i <= node_count; i++)
        cmd += "ip netns exec nodes ip addr add " + NodeAddr(i) + "/32 dev lo;";
    if (ZND_TestSh(cmd + " exit 0") != 0) {
        *why = "cannot build the lab network";
        return false;
    }
    return true;
}

bool IcmpLab::StartResponder(const std::map<std::string, Answer> &answers)
{
    unlink(kReady);
    fflush(nullptr);
    responder_ = fork();
    if (responder_ == 0)
        responder_main(answers);
    if (responder_ < 0)
        return false;
    for (int i = 0; i < 250; i++) {
        if (ZND_TestFileExists(kReady))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void IcmpLab::StopResponder()
{
    if (responder_ <= 0)
        return;
    kill(responder_, SIGKILL);
    waitpid(responder_, nullptr, 0);
    responder_ = -1;
}

std::map<std::string, int> IcmpLab::RequestsSeen() const
{
    std::map<std::string, int> out;
    std::istringstream in(ZND_TestReadFile(kSeenLog));
    std::string line;
    while (std::getline(in, line))
        out[line]++;
    return out;
}
