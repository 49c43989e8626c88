#include "harness/ubusd.h"

#include <chrono>
#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool accepts(const char *path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path);
    bool ok = fd >= 0 && connect(fd, (struct sockaddr *)&addr, sizeof addr) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

} // namespace

bool UbusdProcess::Start(const char *socket)
{
    mkdir("/var/run/ubus", 0755);
    pid_ = fork();
    if (pid_ < 0)
        return false;
    if (pid_ == 0) {
        execl(ZND_TEST_UBUSD, ZND_TEST_UBUSD, "-s", socket, (char *)nullptr);
        _exit(127);
    }
    for (int i = 0; i < 500; i++) {
        if (accepts(socket))
            return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void UbusdProcess::Stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}
