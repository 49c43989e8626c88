#include "harness/sandbox.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <climits>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool do_mount(const char *src, const char *target, const char *type, unsigned long flags, const char *data,
              std::string *why)
{
    if (mount(src, target, type, flags, data) == 0)
        return true;
    *why = std::string("mount ") + target + ": " + strerror(errno);
    return false;
}

// The project's source and build trees stay visible when they live below a directory that the
// sandbox covers (a clone under /tmp, say): each is held by a descriptor while the cover is
// mounted, then bound back at its old path on top of it.
struct KeptTree {
    std::string path;
    int fd;
};

std::vector<KeptTree> hold_trees_below(const char *cover)
{
    std::vector<KeptTree> kept;
    std::string prefix = std::string(cover) + "/";
    for (const char *tree : {ZND_TEST_SOURCE_DIR, ZND_TEST_BINARY_DIR}) {
        char real[PATH_MAX];
        if (!realpath(tree, real) || std::string(real).rfind(prefix, 0) != 0)
            continue;
        int fd = open(real, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            kept.push_back({real, fd});
    }
    return kept;
}

bool bind_back(const std::vector<KeptTree> &kept, std::string *why)
{
    for (const KeptTree &k : kept) {
        std::string fd_path = "/proc/self/fd/" + std::to_string(k.fd);
        bool ok = ZND_TestSh("mkdir -p '" + k.path + "'") == 0 &&
                  do_mount(fd_path.c_str(), k.path.c_str(), nullptr, MS_BIND | MS_REC, nullptr, why);
        close(k.fd);
        if (!ok)
            return false;
    }
    return true;
}

// Mounts a fresh tmpfs on dir, keeping the project's trees below it visible.
bool cover_with_tmpfs(const char *dir, const char *options, std::string *why)
{
    std::vector<KeptTree> kept = hold_trees_below(dir);
    return do_mount("sandbox", dir, "tmpfs", 0, options, why) && bind_back(kept, why);
}

} // namespace

int ZND_TestEnterSandbox(std::string *why)
{
    if (geteuid() != 0) {
        *why = "needs root for namespaces";
        return 77;
    }
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
        *why = std::string("unshare: ") + strerror(errno);
        return 77;
    }
    if (!do_mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr, why))
        return 1;
    if (!cover_with_tmpfs("/run", "mode=0755", why))
        return 1;
    mkdir("/run/.sandbox", 0700);
    mkdir("/run/.sandbox/etc", 0755);
    mkdir("/run/.sandbox/work", 0755);
    if (!do_mount("overlay", "/etc", "overlay", 0,
                  "lowerdir=/etc,upperdir=/run/.sandbox/etc,workdir=/run/.sandbox/work", why))
        return 1;
    if (!cover_with_tmpfs("/tmp", "mode=1777", why))
        return 1;
    if (!do_mount("sysfs", "/sys", "sysfs", 0, nullptr, why))
        return 1;
    for (const char *dir : {"/etc/config", "/etc/zunaro", "/etc/openvpn", "/etc/iproute2"})
        mkdir(dir, 0755);
    if (ZND_TestSh("ip link set lo up") != 0) {
        *why = "cannot bring loopback up";
        return 1;
    }
    return 0;
}

namespace {

// Puts the entry name of the directory held by dir_fd into the private /dev: a link as a link,
// anything else bound (directories with their mounts below, /dev/pts and /dev/shm among them).
bool keep_dev_entry(int dir_fd, const char *name, std::string *why)
{
    struct stat st;
    if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return true;   // gone meanwhile
    std::string dest = std::string("/dev/") + name;
    if (S_ISLNK(st.st_mode)) {
        char target[PATH_MAX];
        ssize_t n = readlinkat(dir_fd, name, target, sizeof target - 1);
        if (n < 0)
            return true;
        target[n] = '\0';
        if (symlink(target, dest.c_str()) == 0)
            return true;
        *why = "symlink " + dest + ": " + strerror(errno);
        return false;
    }
    int made = S_ISDIR(st.st_mode) ? mkdir(dest.c_str(), 0755) : close(open(dest.c_str(), O_CREAT | O_WRONLY, 0600));
    if (made != 0) {
        *why = "make " + dest + ": " + strerror(errno);
        return false;
    }
    std::string src = "/proc/self/fd/" + std::to_string(dir_fd) + "/" + name;
    return do_mount(src.c_str(), dest.c_str(), nullptr, MS_BIND | MS_REC, nullptr, why);
}

} // namespace

bool ZND_TestPrivateDev(std::string *why)
{
    static bool done = false;
    if (done)
        return true;
    if (access("/run/.sandbox", F_OK) != 0) {
        *why = "not in the sandbox: /dev is the machine's";
        return false;
    }
    int dir_fd = open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        *why = std::string("/dev: ") + strerror(errno);
        return false;
    }
    DIR *dir = fdopendir(dup(dir_fd));
    bool ok = dir && do_mount("sandbox-dev", "/dev", "tmpfs", MS_NOSUID, "mode=0755", why);
    for (struct dirent *e; ok && (e = readdir(dir));) {
        std::string name = e->d_name;
        if (name != "." && name != ".." && name != "log")
            ok = keep_dev_entry(dir_fd, e->d_name, why);
    }
    if (dir)
        closedir(dir);
    close(dir_fd);
    done = ok;
    return ok;
}

bool ZND_TestWriteFile(const std::string &path, const std::string &content, int mode)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f)
        return false;
    f << content;
    f.close();
    return chmod(path.c_str(), (mode_t)mode) == 0;
}

std::string ZND_TestReadFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool ZND_TestFileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int ZND_TestSh(const std::string &cmd)
{
    int status = system(cmd.c_str());
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string ZND_TestShOut(const std::string &cmd)
{
    std::string out;
    FILE *fp = popen(cmd.c_str(), "r");
    if (!fp)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        out.append(buf, n);
    pclose(fp);
    return out;
}

std::string ZND_TestQuote(const std::string &text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
