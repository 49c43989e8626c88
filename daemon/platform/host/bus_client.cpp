// Client of the host bus: one connection per call, one request line out, one answer line back,
// all within one deadline.
#include "platform/bus_client.h"
#include "platform/bus.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include "platform/host/bus_wire.h"
#include "platform/clock.h"

namespace {

constexpr size_t kMaxAnswerBytes = 64u << 20;

struct Deadline {
    int64_t at;   // -1: none
    explicit Deadline(int timeout_ms) : at(timeout_ms > 0 ? ZND_MonotonicMs() + timeout_ms : -1) {}
    // Milliseconds left for poll(): -1 without limit, 0 when passed.
    int left() const
    {
        if (at < 0)
            return -1;
        int64_t d = at - ZND_MonotonicMs();
        return d <= 0 ? 0 : (int)d;
    }
};

// Waits for events on fd; false when the deadline passed first.
bool wait_for(int fd, short events, const Deadline &dl)
{
    for (;;) {
        struct pollfd p = {fd, events, 0};
        int rc = poll(&p, 1, dl.left());
        if (rc > 0)
            return true;
        if (rc == 0)
            return false;
        if (errno != EINTR)
            return true;   // let the following call report the error
    }
}

// Returns a connected socket, or -1 with *status set.
int open_connection(const char *path, const Deadline &dl, int *status)
{
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof addr.sun_path) {
        *status = ZND_BUS_STATUS_CONNECTION_FAILED;
        return -1;
    }
    strcpy(addr.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *status = ZND_BUS_STATUS_CONNECTION_FAILED;
        return -1;
    }
    for (;;) {
        if (connect(fd, (const struct sockaddr *)&addr, sizeof addr) == 0)
            return fd;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            // The server's backlog is full: it is alive but busy, try again shortly.
            if (dl.left() == 0) {
                *status = ZND_BUS_STATUS_TIMEOUT;
                break;
            }
            poll(nullptr, 0, 10);
            continue;
        }
        if (errno == EINPROGRESS) {
            int err = 0;
            socklen_t len = sizeof err;
            if (!wait_for(fd, POLLOUT, dl)) {
                *status = ZND_BUS_STATUS_TIMEOUT;
                break;
            }
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
                return fd;
        }
        *status = ZND_BUS_STATUS_CONNECTION_FAILED;
        break;
    }
    close(fd);
    return -1;
}

int send_all(int fd, const std::string &data, const Deadline &dl)
{
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_for(fd, POLLOUT, dl))
                return ZND_BUS_STATUS_TIMEOUT;
            continue;
        }
        return ZND_BUS_STATUS_NO_DATA;   // the server went away
    }
    return ZND_BUS_STATUS_OK;
}

// Reads up to the answer's newline, or to the end when the server closes without one.
int recv_line(int fd, std::string *line, const Deadline &dl)
{
    char buf[8192];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            const char *nl = static_cast<const char *>(memchr(buf, '\n', (size_t)n));
            line->append(buf, nl ? (size_t)(nl - buf) : (size_t)n);
            if (nl)
                return ZND_BUS_STATUS_OK;
            if (line->size() > kMaxAnswerBytes)
                return ZND_BUS_STATUS_UNKNOWN_ERROR;
            continue;
        }
        if (n == 0)
            return line->empty() ? ZND_BUS_STATUS_NO_DATA : ZND_BUS_STATUS_OK;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_for(fd, POLLIN, dl))
                return ZND_BUS_STATUS_TIMEOUT;
            continue;
        }
        return ZND_BUS_STATUS_NO_DATA;
    }
}

// Sends one request line and parses the answer.
int exchange(const char *path, const std::string &request, int timeout_ms, ZND_BusValue *reply, bool *replied)
{
    *replied = false;
    *reply = ZND_BusValue{};
    Deadline dl(timeout_ms);
    int status = ZND_BUS_STATUS_OK;
    int fd = open_connection(path ? path : ZND_BUS_DEFAULT_SOCKET, dl, &status);
    if (fd < 0)
        return status;
    std::string line;
    status = send_all(fd, request, dl);
    if (status == ZND_BUS_STATUS_OK)
        status = recv_line(fd, &line, dl);
    close(fd);
    if (status != ZND_BUS_STATUS_OK)
        return status;
    if (!ZND_BusWireParseAnswer(line.data(), line.size(), &status, reply, replied))
        return ZND_BUS_STATUS_UNKNOWN_ERROR;
    return status;
}

} // namespace

namespace {

int call(const char *path, const char *object, const char *method, const char *json, int timeout_ms,
         ZND_BusValue *answer, bool *replied)
{
    *replied = false;
    ZND_BusValue msg;
    if (ZND_BusFromJson(json ? json : "{}", &msg) != 0 || msg.type != ZND_BUS_TABLE)
        return ZND_BUS_STATUS_PARSE_ERROR;
    return exchange(path, ZND_BusWireCallLine(object, method, msg), timeout_ms, answer, replied);
}

void to_reply_value(const ZND_BusValue &v, ZND_BusReplyValue *out)
{
    out->name = v.name;
    switch (v.type) {
    case ZND_BUS_STRING:
        out->kind = ZND_BusReplyValue::STRING;
        out->text = v.str;
        break;
    case ZND_BUS_INT32:
    case ZND_BUS_INT64:
        out->kind = ZND_BusReplyValue::NUMBER;
        out->number = v.num;
        break;
    case ZND_BUS_BOOL:
        out->kind = ZND_BusReplyValue::BOOL;
        out->number = v.num;
        break;
    case ZND_BUS_DOUBLE:
        out->kind = ZND_BusReplyValue::DOUBLE;
        out->dbl = v.dbl;
        break;
    case ZND_BUS_TABLE:
    case ZND_BUS_ARRAY:
        out->kind = v.type == ZND_BUS_TABLE ? ZND_BusReplyValue::TABLE : ZND_BusReplyValue::ARRAY;
        out->members.resize(v.items.size());
        for (size_t i = 0; i < v.items.size(); i++)
            to_reply_value(v.items[i], &out->members[i]);
        break;
    default:
        out->kind = ZND_BusReplyValue::NONE;
        break;
    }
}

} // namespace

int ZND_BusClientCall(const char *path, const char *object, const char *method, const char *json,
                      int timeout_ms, std::string *reply, bool *replied)
{
    reply->clear();
    ZND_BusValue answer;
    int status = call(path, object, method, json, timeout_ms, &answer, replied);
    if (*replied)
        *reply = ZND_BusToJson(answer, true);
    return status;
}

int ZND_BusClientCallValue(const char *path, const char *object, const char *method, const char *json,
                           int timeout_ms, ZND_BusReplyValue *reply, std::string *text, bool *replied)
{
    *reply = ZND_BusReplyValue{};
    if (text)
        text->clear();
    ZND_BusValue answer;
    int status = call(path, object, method, json, timeout_ms, &answer, replied);
    if (*replied) {
        to_reply_value(answer, reply);
        if (text)
            *text = ZND_BusToJson(answer, true);
    }
    return status;
}

int ZND_BusClientList(const char *path, int timeout_ms, std::vector<std::string> *names)
{
    ZND_BusValue reply;
    bool replied = false;
    names->clear();
    int status = exchange(path, ZND_BusWireListLine(), timeout_ms, &reply, &replied);
    if (status != ZND_BUS_STATUS_OK)
        return status;
    if (!replied || reply.type != ZND_BUS_ARRAY)
        return ZND_BUS_STATUS_UNKNOWN_ERROR;
    for (const auto &item : reply.items)
        if (item.type == ZND_BUS_STRING)
            names->push_back(item.str);
    return ZND_BUS_STATUS_OK;
}
