#include "platform/ubox/uci_commit.h"

#include "platform/file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A libuci writer names its new file ".<package>.uci-XXXXXX" in the configuration directory and
// renames it over the package after it has given up the lock. One older than this is left over
// from a writer that died, not about to be renamed.
constexpr time_t kForeignCommitStaleS = 2;
// How long a lock holder waits for such a rename before it goes on (the read-back of the value
// catches a rename that still comes).
constexpr int kForeignCommitWaitMs = 1000;
constexpr int kForeignCommitPollMs = 2;
// How long a commit keeps the new package locked while writers of the replaced file finish.
constexpr int kSettleWaitMs = 2000;
// Our new files: ".<package>.zunaro-XXXXXX".
constexpr char kOwnTag[] = "zunaro-";

std::string dir_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool has_prefix(const char *name, const std::string &prefix)
{
    return strncmp(name, prefix.c_str(), prefix.size()) == 0;
}

// Whether a libuci writer of the package is between its unlock and its rename.
bool foreign_commit_pending(const std::string &dir, const std::string &package)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return false;
    const std::string prefix = "." + package + ".uci-";
    const time_t now = time(nullptr);
    bool pending = false;
    while (struct dirent *e = readdir(d)) {
        struct stat st;
        if (has_prefix(e->d_name, prefix) && fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            now - st.st_mtime < kForeignCommitStaleS) {
            pending = true;
            break;
        }
    }
    closedir(d);
    return pending;
}

// New files of ours that a killed writer left behind (named after the package file's target). Only called with the current package file
// locked: no commit of ours to it is under way, so every such file is left over.
void remove_left_over(const std::string &dir, const std::string &package)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    const std::string prefix = "." + package + "." + kOwnTag;
    while (struct dirent *e = readdir(d))
        if (has_prefix(e->d_name, prefix))
            unlinkat(dirfd(d), e->d_name, 0);
    closedir(d);
}

bool write_all(int fd, const std::string &text, off_t offset)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = pwrite(fd, text.data() + done, text.size() - done, offset + (off_t)done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

// Whether another process has the file (dev, ino) open: it may still lock it and read it.
bool open_elsewhere(dev_t dev, ino_t ino)
{
    DIR *proc = opendir("/proc");
    if (!proc)
        return false;
    const std::string self = std::to_string(getpid());
    bool found = false;
    while (!found) {
        struct dirent *p = readdir(proc);
        if (!p)
            break;
        if (p->d_name[0] < '0' || p->d_name[0] > '9' || self == p->d_name)
            continue;
        DIR *fds = opendir(("/proc/" + std::string(p->d_name) + "/fd").c_str());
        if (!fds)
            continue;
        while (struct dirent *f = readdir(fds)) {
            struct stat st;
            if (f->d_name[0] != '.' && fstatat(dirfd(fds), f->d_name, &st, 0) == 0 && st.st_dev == dev &&
                st.st_ino == ino) {
                found = true;
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return found;
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool read_all(int fd, std::string *text)
{
    text->clear();
    char buf[4096];
    for (off_t at = 0;;) {
        ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text->append(buf, (size_t)n);
        at += n;
    }
}

// The old file gets the new text for whoever waits on its lock. Should that fail, it gets text
// that libuci refuses to parse: the waiter's commit then fails and says so, rather than writing
// back a package cut short.
void hand_over(int fd, const std::string &text)
{
    if (write_all(fd, text, 0) && ftruncate(fd, (off_t)text.size()) == 0)
        return;
    static const char kUnparsable[] = "'\n";
    if (ftruncate(fd, 0) == 0)
        write_all(fd, kUnparsable, 0);
}

// After the rename, writers that had the replaced file open (waiting for its lock, or about to
// take it) go on with it: they read the text we gave it, and one of them may rename its commit
// over ours. Until every one of them has closed it the package file stays locked, so that nobody
// starts from a text that such a rename replaces; when one did rename, its text is handed to our
// file in turn (whoever waited there reads it) and the lock moves on to the file that is the
// package now. held is the locked package file, stale the one it replaced; returns the file that
// is locked at the end.
int settle(const ZND_UciLockedPackage &pkg, int held, struct stat stale)
{
    for (int waited_ms = 0;; usleep(kForeignCommitPollMs * 1000), waited_ms += kForeignCommitPollMs) {
        if (waited_ms >= kSettleWaitMs)
            return held;
        if (open_elsewhere(stale.st_dev, stale.st_ino) || foreign_commit_pending(dir_of(pkg.path), pkg.name))
            continue;
        struct stat now, ours;
        if (stat(pkg.path.c_str(), &now) != 0 || fstat(held, &ours) != 0 || same_file(now, ours))
            return held;
        int fd = open(pkg.path.c_str(), O_RDWR | O_CLOEXEC);
        std::string text;
        struct stat locked;
        if (fd < 0 || flock(fd, LOCK_EX) != 0 || fstat(fd, &locked) != 0 || stat(pkg.path.c_str(), &now) != 0 ||
            !same_file(now, locked) || !read_all(fd, &text)) {
            if (fd >= 0)
                close(fd);
            continue;
        }
        hand_over(held, text);
        close(held);
        held = fd;
        stale = ours;
    }
}

} // namespace

bool ZND_UciLockPackage(const char *dir, const char *package, ZND_UciLockedPackage *out)
{
    out->name = package;
    out->path = std::string(dir) + "/" + package;
    for (int waited_ms = 0;;) {
        int fd = open(out->path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat now;
        int rc;
        while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if ((rc != 0 && errno != ENOSYS) || fstat(fd, &out->st) != 0 || stat(out->path.c_str(), &now) != 0) {
            int saved = errno;
            close(fd);
            errno = saved;
            return false;
        }
        // Renamed away while we waited: the lock of the file that is there now counts.
        if (!same_file(now, out->st)) {
            close(fd);
            continue;
        }
        if (waited_ms < kForeignCommitWaitMs && foreign_commit_pending(dir, package)) {
            close(fd);
            usleep(kForeignCommitPollMs * 1000);
            waited_ms += kForeignCommitPollMs;
            continue;
        }
        char real[PATH_MAX];
        if (!realpath(out->path.c_str(), real)) {
            close(fd);
            return false;
        }
        out->fd = fd;
        const std::string target = real;
        remove_left_over(dir_of(target), target.substr(target.rfind('/') + 1));
        return true;
    }
}

bool ZND_UciReplacePackage(ZND_UciLockedPackage *pkg, const std::string &text)
{
    std::string fresh;
    int held = ZND_FileStage(pkg->path.c_str(), text, pkg->st.st_mode, &pkg->st, kOwnTag, &fresh);
    if (held < 0)
        return false;
    // The new file is locked before anybody can open it as the package. A writer of a replaced
    // file (one that waited on an earlier commit's old file) may have started a commit from the
    // text we read meanwhile: its new file is there, and renaming ours now would lose its change.
    struct stat now;
    bool current = flock(held, LOCK_EX) == 0 && stat(pkg->path.c_str(), &now) == 0 && same_file(now, pkg->st) &&
                   !foreign_commit_pending(dir_of(pkg->path), pkg->name);
    if (!current) {
        close(held);
        unlink(fresh.c_str());
        errno = EAGAIN;
        return false;
    }
    if (!ZND_FileCommitStaged(fresh, pkg->path.c_str())) {
        close(held);
        return false;
    }
    hand_over(pkg->fd, text);
    close(pkg->fd);
    pkg->fd = settle(*pkg, held, pkg->st);
    return true;
}

void ZND_UciUnlockPackage(ZND_UciLockedPackage *pkg)
{
    if (pkg->fd >= 0)
        close(pkg->fd);
    pkg->fd = -1;
}
