// Whole files: atomic replacement (temporary file in the same directory, fsync, rename, fsync of
// the directory) and reading.
#include "platform/file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
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

// A file that is a symbolic link is replaced at its target, keeping the link.
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

int ZND_FileStage(const char *path, const std::string &content, mode_t mode, const struct stat *owner_like,
                  const char *tag, std::string *staged)
{
    std::string target = resolve(path);
    // A leading dot and a dot inside: never a valid package name, so never loaded as one.
    *staged = dir_of(target) + "/." + base_of(target) + "." + tag + "XXXXXX";
    int fd = mkostemp(&(*staged)[0], O_CLOEXEC);
    if (fd < 0)
        return -1;
    bool ok = fchmod(fd, mode & 07777) == 0;
    if (ok && owner_like && fchown(fd, owner_like->st_uid, owner_like->st_gid) != 0) {
        // Not permitted for an unprivileged caller: the file stays ours, with the same mode.
    }
    if (ok && write_all(fd, content) && fsync(fd) == 0)
        return fd;
    int saved = errno;
    close(fd);
    unlink(staged->c_str());
    errno = saved;
    return -1;
}

bool ZND_FileCommitStaged(const std::string &staged, const char *path)
{
    std::string target = resolve(path);
    if (rename(staged.c_str(), target.c_str()) != 0) {
        int saved = errno;
        unlink(staged.c_str());
        errno = saved;
        return false;
    }
    sync_dir(dir_of(target));
    return true;
}

bool ZND_FileReplace(const char *path, const std::string &content, mode_t mode, const struct stat *owner_like)
{
    std::string staged;
    int fd = ZND_FileStage(path, content, mode, owner_like, "", &staged);
    if (fd < 0)
        return false;
    if (close(fd) != 0) {
        int saved = errno;
        unlink(staged.c_str());
        errno = saved;
        return false;
    }
    return ZND_FileCommitStaged(staged, path);
}

bool ZND_FileRead(const char *path, std::string *content, mode_t *mode)
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
