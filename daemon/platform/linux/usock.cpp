// Sockets with the flags of libubox's usock: numeric IPv4/IPv6 addresses, TCP or UDP, bound or
// connected. Not libubox's own: it asks getaddrinfo for AI_ADDRCONFIG, which finds no IPv4 address
// while the router's LAN is not up yet, so the discovery socket could not be bound at boot.
#include "platform/usock.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

int ZND_Usock(int type, const char *host, const char *service)
{
    struct addrinfo hints = {}, *res = nullptr;
    hints.ai_family = (type & ZND_USOCK_IPV4ONLY) ? AF_INET : (type & ZND_USOCK_IPV6ONLY) ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = (type & ZND_USOCK_UDP) ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | ((type & ZND_USOCK_SERVER) ? AI_PASSIVE : 0) |
                     ((type & ZND_USOCK_NUMERIC) ? AI_NUMERICHOST : 0);
    if (getaddrinfo(host, service, &hints, &res) != 0 || !res) {
        errno = EINVAL;
        return -1;
    }
    int fd = -1;
    for (struct addrinfo *ai = res; ai; ai = ai->ai_next) {
        int flags = ((type & ZND_USOCK_NOCLOEXEC) ? 0 : SOCK_CLOEXEC) |
                    ((type & ZND_USOCK_NONBLOCK) ? SOCK_NONBLOCK : 0);
        fd = socket(ai->ai_family, ai->ai_socktype | flags, 0);
        if (fd < 0)
            continue;
        int ok;
        if (type & ZND_USOCK_SERVER) {
            int one = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            ok = bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 &&
                 (hints.ai_socktype == SOCK_DGRAM || listen(fd, SOMAXCONN) == 0);
        } else {
            ok = connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == EINPROGRESS;
        }
        if (ok)
            break;
        int saved = errno;
        close(fd);
        fd = -1;
        errno = saved;
    }
    freeaddrinfo(res);
    return fd;
}
