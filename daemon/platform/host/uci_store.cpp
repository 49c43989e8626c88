// Configuration store of the host backend: the package files under the configuration directory,
// read on every call (nothing is cached) and committed whole after every set.
#include "platform/uci_store.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/file.h"
#include "platform/host/uci_file.h"

namespace {

using Address = ZND_UciAddress;

// libuci does not load an option whose value is empty (setting one empty removes it); neither
// does the store, so that both read, and commit, the same package.
void drop_empty_options(UciPackage *pkg)
{
    for (auto &sec : pkg->sections) {
        auto &opts = sec.options;
        opts.erase(std::remove_if(opts.begin(), opts.end(),
                                  [](const UciOption &o) { return !o.isList && o.values[0].empty(); }),
                   opts.end());
    }
}

// An open package file, locked for its lifetime the way other UCI users lock it.
class PackageFile {
public:
    PackageFile(const Address &addr, bool exclusive)
    {
        path_ = std::string(ZND_UciConfDir()) + "/" + addr.package;
        fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            return;
        while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
        }
    }
    ~PackageFile()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    PackageFile(const PackageFile &) = delete;
    PackageFile &operator=(const PackageFile &) = delete;

    // Reads and parses the whole file; false when it cannot be read or does not parse.
    bool Load(UciPackage *pkg)
    {
        if (fd_ < 0 || fstat(fd_, &st_) != 0 || !S_ISREG(st_.st_mode))
            return false;
        std::string text;
        char buf[4096];
        for (;;) {
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                break;
            text.append(buf, (size_t)n);
        }
        if (!UciParse(text, pkg))
            return false;
        drop_empty_options(pkg);
        return true;
    }

    bool Commit(const UciPackage &pkg) { return ZND_FileReplace(path_.c_str(), UciRender(pkg), st_.st_mode, &st_); }

private:
    std::string path_;
    int fd_ = -1;
    struct stat st_ = {};
};

} // namespace

int ZND_UciGet(const char *address, std::string *value)
{
    Address addr;
    if (!ZND_UciSplitAddress(address, &addr))
        return ZND_UCI_LOOKUP_FAILED;
    PackageFile file(addr, false);
    UciPackage pkg;
    if (!file.Load(&pkg))
        return ZND_UCI_LOOKUP_FAILED;
    UciSection *sec = UciFindSection(&pkg, addr.section);
    UciOption *opt = sec ? UciFindOption(sec, addr.option) : nullptr;
    // A list has no single text value.
    if (!opt || opt->isList)
        return ZND_UCI_INCOMPLETE;
    if (value)
        *value = opt->values[0];
    return ZND_UCI_COMPLETE;
}

int ZND_UciSet(const char *address, const char *value)
{
    Address addr;
    if (!ZND_UciSplitAddress(address, &addr))
        return ZND_UCI_LOOKUP_FAILED;
    PackageFile file(addr, true);
    UciPackage pkg;
    if (!file.Load(&pkg))
        return ZND_UCI_LOOKUP_FAILED;
    UciSection *sec = UciFindSection(&pkg, addr.section);
    if (!sec || !value)
        return 1;
    // As with libuci and the uci tool, an empty value removes the option.
    if (*value)
        UciSetOption(sec, addr.option, value);
    else
        UciRemoveOption(sec, addr.option);
    return file.Commit(pkg) ? 0 : 1;
}
