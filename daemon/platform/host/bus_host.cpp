// Bus transport of the host backend. The development host has no bus daemon, so the daemon itself
// serves a local stream socket: each connection carries one request line and gets one answer line
// (see bus_wire.h). Connections never block the single-threaded loop: reads and writes are
// non-blocking and buffered, and a connection that stays silent is dropped after a while, or
// sooner when the table is full and a newcomer needs its place.
#include "platform/bus.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include "platform/host/bus_wire.h"
#include "platform/loop.h"

const char ZND_BUS_DEFAULT_SOCKET[] = "/var/run/zunaro-bus.sock";

struct ZND_BusRequest {
    bool replied = false;
    ZND_BusValue reply;
};

namespace {

constexpr size_t kMaxRequestBytes = 1 << 20;
constexpr int kConnLifetimeMs = 30000;   // to deliver a request, and again to take the answer
constexpr size_t kMaxConns = 32;
// A full table makes room only by dropping a connection that has been silent this long; a caller
// whose request is on its way is never dropped for a newcomer.
constexpr int64_t kIdleDropMs = 5000;

struct Conn;
// The loop hands back a pointer to the ZND_Fd / ZND_Timeout; each sits first in a record that
// also points at its owner.
struct ConnWatch {
    ZND_Fd fd;
    Conn *conn;
};
struct ConnTimer {
    ZND_Timeout t;
    Conn *conn;
};

struct Conn {
    ConnWatch watch{};
    ConnTimer timer{};
    ZND_BusContext *ctx = nullptr;
    std::string in;
    std::string out;
    size_t out_off = 0;
    int64_t last_ms = 0;   // when the client last sent or took something
};

struct ListenWatch {
    ZND_Fd fd;
    ZND_BusContext *ctx;
};
struct ReapTimer {
    ZND_Timeout t;
    ZND_BusContext *ctx;
};

} // namespace

struct ZND_BusContext {
    std::string path;
    ListenWatch listen{};
    ReapTimer reap{};
    dev_t dev = 0;
    ino_t ino = 0;
    std::vector<ZND_BusObject *> objects;
    std::vector<std::unique_ptr<Conn>> conns;   // oldest first
    // Closed connections are freed from a timeout, not at once: the loop may still hold an
    // event for them from the same wake-up.
    std::vector<std::unique_ptr<Conn>> closed;
};

namespace {

void reap_closed(ZND_Timeout *t)
{
    reinterpret_cast<ReapTimer *>(t)->ctx->closed.clear();
}

void conn_close(Conn *c)
{
    ZND_BusContext *ctx = c->ctx;
    ZND_FdDelete(&c->watch.fd);
    ZND_TimeoutCancel(&c->timer.t);
    close(c->watch.fd.fd);
    c->watch.fd.fd = -1;
    for (auto it = ctx->conns.begin(); it != ctx->conns.end(); ++it)
        if (it->get() == c) {
            ctx->closed.push_back(std::move(*it));
            ctx->conns.erase(it);
            break;
        }
    ZND_TimeoutSet(&ctx->reap.t, 0);
}

void conn_expired(ZND_Timeout *t)
{
    conn_close(reinterpret_cast<ConnTimer *>(t)->conn);
}

ZND_BusObject *find_object(ZND_BusContext *ctx, const std::string &name)
{
    for (ZND_BusObject *obj : ctx->objects)
        if (name == obj->name)
            return obj;
    return nullptr;
}

int call_method(ZND_BusContext *ctx, const ZND_BusWireRequest &r, ZND_BusRequest *req)
{
    ZND_BusObject *obj = find_object(ctx, r.object);
    if (!obj)
        return ZND_BUS_STATUS_NOT_FOUND;
    for (int i = 0; i < obj->n_methods; i++) {
        const ZND_BusMethod &m = obj->methods[i];
        if (!m.name || r.method != m.name)
            continue;
        if (r.msg.type != ZND_BUS_TABLE)
            return ZND_BUS_STATUS_INVALID_ARGUMENT;
        if (!m.handler)
            return ZND_BUS_STATUS_NOT_SUPPORTED;
        return m.handler(ctx, obj, req, m.name, &r.msg);
    }
    return ZND_BUS_STATUS_METHOD_NOT_FOUND;
}

int list_objects(ZND_BusContext *ctx, ZND_BusRequest *req)
{
    req->replied = true;
    req->reply.type = ZND_BUS_ARRAY;
    for (ZND_BusObject *obj : ctx->objects) {
        req->reply.items.emplace_back();
        req->reply.items.back().type = ZND_BUS_STRING;
        req->reply.items.back().str = obj->name;
    }
    return ZND_BUS_STATUS_OK;
}

// The answer to one request line.
std::string answer(ZND_BusContext *ctx, const char *line, size_t len)
{
    ZND_BusWireRequest r;
    ZND_BusRequest req;
    int status;
    if (!ZND_BusWireParseRequest(line, len, &r))
        status = ZND_BUS_STATUS_INVALID_ARGUMENT;
    else if (r.op == "call")
        status = call_method(ctx, r, &req);
    else if (r.op == "list")
        status = list_objects(ctx, &req);
    else
        status = ZND_BUS_STATUS_INVALID_COMMAND;
    return ZND_BusWireAnswerLine(status, req.replied ? &req.reply : nullptr);
}

// Sends what the socket takes now; true when the answer is out (or cannot be delivered).
bool conn_flush(Conn *c)
{
    while (c->out_off < c->out.size()) {
        ssize_t n = send(c->watch.fd.fd, c->out.data() + c->out_off, c->out.size() - c->out_off,
                         MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c->out_off += (size_t)n;
            c->last_ms = ZND_LoopNow();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }
    return true;
}

void conn_respond(Conn *c, const char *line, size_t len)
{
    c->out = answer(c->ctx, line, len);
    c->in.clear();
    c->in.shrink_to_fit();
    if (conn_flush(c)) {
        conn_close(c);
        return;
    }
    // The client reads slowly: wait for room in the socket, no longer for requests.
    ZND_FdAdd(&c->watch.fd, ZND_FD_WRITE);
    ZND_TimeoutSet(&c->timer.t, kConnLifetimeMs);
}

void conn_read(Conn *c)
{
    char buf[4096];
    for (;;) {
        ssize_t n = recv(c->watch.fd.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;   // a partial request stays buffered
        if (n <= 0) {
            // The client finished writing: a last line without its newline still counts.
            if (n == 0 && !c->in.empty())
                conn_respond(c, c->in.data(), c->in.size());
            else
                conn_close(c);
            return;
        }
        c->last_ms = ZND_LoopNow();
        const char *nl = static_cast<const char *>(memchr(buf, '\n', (size_t)n));
        size_t take = nl ? (size_t)(nl - buf) : (size_t)n;
        if (c->in.size() + take > kMaxRequestBytes) {
            conn_close(c);
            return;
        }
        c->in.append(buf, take);
        if (nl) {
            conn_respond(c, c->in.data(), c->in.size());
            return;
        }
    }
}

void conn_event(ZND_Fd *fd, unsigned int events)
{
    Conn *c = reinterpret_cast<ConnWatch *>(fd)->conn;
    if (!c->out.empty()) {
        if (events & (ZND_FD_WRITE | ZND_FD_READ)) {
            if (conn_flush(c))
                conn_close(c);
        }
        return;
    }
    if (events & ZND_FD_READ)
        conn_read(c);
}

// The connection that has been silent longest, when that is longer than kIdleDropMs.
Conn *idle_conn(ZND_BusContext *ctx)
{
    Conn *idle = nullptr;
    int64_t now = ZND_LoopNow();
    for (const auto &c : ctx->conns)
        if (now - c->last_ms >= kIdleDropMs && (!idle || c->last_ms < idle->last_ms))
            idle = c.get();
    return idle;
}

void conn_add(ZND_BusContext *ctx, int fd)
{
    // Keep the number of connections bounded: make room by dropping an idle one, or refuse.
    if (ctx->conns.size() >= kMaxConns) {
        Conn *idle = idle_conn(ctx);
        if (!idle) {
            close(fd);
            return;
        }
        conn_close(idle);
    }
    auto c = std::make_unique<Conn>();
    c->last_ms = ZND_LoopNow();
    c->ctx = ctx;
    c->watch.conn = c.get();
    c->watch.fd.cb = conn_event;
    c->watch.fd.fd = fd;
    c->timer.conn = c.get();
    c->timer.t.cb = conn_expired;
    if (ZND_FdAdd(&c->watch.fd, ZND_FD_READ) != 0) {
        close(fd);
        return;
    }
    ZND_TimeoutSet(&c->timer.t, kConnLifetimeMs);
    ctx->conns.push_back(std::move(c));
}

void listen_event(ZND_Fd *fd, unsigned int)
{
    ZND_BusContext *ctx = reinterpret_cast<ListenWatch *>(fd)->ctx;
    for (;;) {
        int cfd = accept4(fd->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (cfd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        conn_add(ctx, cfd);
    }
}

bool make_addr(const char *path, struct sockaddr_un *addr)
{
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (strlen(path) >= sizeof addr->sun_path)
        return false;
    strcpy(addr->sun_path, path);
    return true;
}

// A socket file whose server is gone refuses connections; anything else is left alone.
bool is_stale_socket(const struct sockaddr_un &addr)
{
    struct stat st;
    if (lstat(addr.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool refused = connect(fd, (const struct sockaddr *)&addr, sizeof addr) != 0 && errno == ECONNREFUSED;
    close(fd);
    return refused;
}

int bind_listen(const struct sockaddr_un &addr)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int rc = bind(fd, (const struct sockaddr *)&addr, sizeof addr);
    if (rc != 0 && errno == EADDRINUSE && is_stale_socket(addr)) {
        unlink(addr.sun_path);
        rc = bind(fd, (const struct sockaddr *)&addr, sizeof addr);
    }
    // Requests can log in and steer the router's traffic: only the owner may connect.
    if (rc != 0 || chmod(addr.sun_path, 0600) != 0 || listen(fd, 16) != 0) {
        if (rc == 0)
            unlink(addr.sun_path);
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

ZND_BusContext *ZND_BusConnect(const char *path)
{
    struct sockaddr_un addr;
    if (!make_addr(path ? path : ZND_BUS_DEFAULT_SOCKET, &addr))
        return nullptr;
    int fd = bind_listen(addr);
    if (fd < 0)
        return nullptr;
    auto *ctx = new ZND_BusContext;
    ctx->path = addr.sun_path;
    ctx->listen.fd.fd = fd;
    ctx->listen.fd.cb = listen_event;
    ctx->listen.ctx = ctx;
    ctx->reap.t.cb = reap_closed;
    ctx->reap.ctx = ctx;
    struct stat st;
    if (stat(addr.sun_path, &st) == 0) {
        ctx->dev = st.st_dev;
        ctx->ino = st.st_ino;
    }
    return ctx;
}

void ZND_BusAddUloop(ZND_BusContext *ctx)
{
    if (ctx)
        ZND_FdAdd(&ctx->listen.fd, ZND_FD_READ);
}

int ZND_BusAddObject(ZND_BusContext *ctx, ZND_BusObject *obj)
{
    if (!ctx || !obj || !obj->name || obj->n_methods < 0 || (obj->n_methods > 0 && !obj->methods))
        return ZND_BUS_STATUS_INVALID_ARGUMENT;
    if (find_object(ctx, obj->name))
        return ZND_BUS_STATUS_INVALID_ARGUMENT;
    ctx->objects.push_back(obj);
    return ZND_BUS_STATUS_OK;
}

int ZND_BusSendReply(ZND_BusContext *ctx, ZND_BusRequest *req, ZND_BusMsg *msg)
{
    if (!ctx || !req || !msg || (msg->type != ZND_BUS_TABLE && msg->type != ZND_BUS_ARRAY))
        return ZND_BUS_STATUS_INVALID_ARGUMENT;
    if (req->replied)
        return ZND_BUS_STATUS_INVALID_COMMAND;
    req->replied = true;
    req->reply = *msg;
    return ZND_BUS_STATUS_OK;
}

void ZND_BusFree(ZND_BusContext *ctx)
{
    if (!ctx)
        return;
    while (!ctx->conns.empty())
        conn_close(ctx->conns.back().get());
    ZND_TimeoutCancel(&ctx->reap.t);
    ctx->closed.clear();
    ZND_FdDelete(&ctx->listen.fd);
    close(ctx->listen.fd.fd);
    // Remove the socket file only while it is still the one this context made.
    struct stat st;
    if (stat(ctx->path.c_str(), &st) == 0 && st.st_dev == ctx->dev && st.st_ino == ctx->ino)
        unlink(ctx->path.c_str());
    delete ctx;
}

const char *ZND_BusStrError(int status)
{
    static const char *const texts[] = {
        "Success",           "Invalid command",   "Invalid argument", "Method not found",
        "Not found",         "No response",       "Permission denied", "Request timed out",
        "Operation not supported", "Unknown error", "Connection failed", "Out of memory",
        "Parsing message data failed", "System error",
    };
    if (status < 0 || status >= (int)(sizeof texts / sizeof texts[0]))
        return "Unknown error";
    return texts[status];
}
