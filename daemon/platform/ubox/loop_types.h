// On the router the loop is libubox's uloop: a timeout is a uloop_timeout, a watcher a uloop_fd.
#pragma once
extern "C" {
#include <libubox/uloop.h>
}

typedef struct uloop_timeout ZND_Timeout;
typedef uloop_timeout_handler ZND_TimeoutHandler;
typedef struct uloop_fd ZND_Fd;
typedef uloop_fd_handler ZND_FdHandler;

enum {
    ZND_FD_READ = ULOOP_READ,
    ZND_FD_WRITE = ULOOP_WRITE,
    ZND_FD_EDGE_TRIGGER = ULOOP_EDGE_TRIGGER,
    ZND_FD_BLOCKING = ULOOP_BLOCKING,
};
