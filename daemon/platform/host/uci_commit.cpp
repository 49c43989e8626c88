// Atomic replacement of a package file: temporary file in the same directory, fsync, rename,
// fsync of the directory.
#include "platform/host/uci_commit.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += (size_t)n;
    }
    return true;
}

std::string dir_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Once the rename is done the new text is in place; a failing directory sync only weakens
// durability, so it is not reported as a failed commit.
void sync_dir(const std::string &dir)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// A package file that is a symbolic link is replaced at its target, keeping the link.
std::string resolve(const std::string &path)
{
    char *real = realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string out = real;
    free(real);
    return out;
}

} // namespace

bool UciReplaceFile(const std::string &path, const std::string &text, const struct stat &like)
{
    std::string target = resolve(path);
    std::string dir = dir_of(target);
    // A leading dot and a dot inside: never a valid package name, so never loaded as one.
    std::string tmp = dir + "/." + base_of(target) + ".XXXXXX";
    int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0)
        return false;

    bool ok = fchmod(fd, like.st_mode & 07777) == 0;
    if (ok && fchown(fd, like.st_uid, like.st_gid) != 0) {
        // Not permitted for an unprivileged caller: the file stays ours, with the same mode.
    }
    ok = ok && write_all(fd, text) && fsync(fd) == 0;
    if (close(fd) != 0)
        ok = false;
    if (ok && rename(tmp.c_str(), target.c_str()) != 0)
        ok = false;
    if (!ok) {
        unlink(tmp.c_str());
        return false;
    }
    sync_dir(dir);
    return true;
}
