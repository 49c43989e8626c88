#include "tunnel/driver_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "core/log.h"

#define ZND_IFNAME_MAX 15

bool ZND_IsDottedIpv4(const char *text)
{
    struct in_addr a;
    return text && inet_pton(AF_INET, text, &a) == 1;
}

bool ZND_IsSafeIfName(const char *name)
{
    if (!name)
        return false;
    size_t len = strlen(name);
    if (len == 0 || len > ZND_IFNAME_MAX || name[0] == '-')
        return false;
    return strspn(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") == len;
}

bool ZND_HasLineBreak(const char *text)
{
    return text && strpbrk(text, "\r\n") != nullptr;
}

namespace {

bool write_all(int fd, const std::string &content)
{
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

} // namespace

bool ZND_ReplaceFile(const char *path, const std::string &content, mode_t mode)
{
    std::string tmp = std::string(path) + ".XXXXXX";
    // mkostemp creates the file with mode 0600: a secret is never readable by others on the way.
    int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0) {
        ZND_ERROR("create temporary file for %s failed: %s", path, strerror(errno));
        return false;
    }
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, content) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), path) == 0)
        return true;
    ZND_ERROR("write %s failed: %s", path, strerror(errno));
    unlink(tmp.c_str());
    return false;
}

bool ZND_ReadFile(const char *path, std::string *content, mode_t *mode)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && mode)
        *mode = st.st_mode & 07777;
    content->clear();
    char buf[4096];
    while (ok) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        content->append(buf, (size_t)n);
    }
    close(fd);
    return ok;
}
