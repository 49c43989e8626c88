// Sockets opened the way libubox's socket helper opens them, with its flags.
#pragma once

enum {
    ZND_USOCK_TCP = 0,
    ZND_USOCK_UDP = 1,
    ZND_USOCK_SERVER = 0x0100,
    ZND_USOCK_NOCLOEXEC = 0x0200,
    ZND_USOCK_NONBLOCK = 0x0400,
    ZND_USOCK_NUMERIC = 0x0800,
    ZND_USOCK_IPV6ONLY = 0x2000,
    ZND_USOCK_IPV4ONLY = 0x4000,
};

// Opens a socket bound (server) or connected to host:service; the descriptor, or -1 with errno set.
int ZND_Usock(int type, const char *host, const char *service);
