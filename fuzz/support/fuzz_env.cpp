#include "fuzz_env.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include "harness/sandbox.h"
#include "platform/syslog.h"

// A smaller quarantine than the default keeps freed memory in use again sooner: the targets that
// allocate a lot per run (file readers, the whole daemon) spend far less time in page faults.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16";
}

void ZND_FuzzFail(const char *file, int line, const char *what, const std::string &detail)
{
    fprintf(stderr, "%s:%d: property does not hold: %s\n%s\n", file, line, what, detail.c_str());
    abort();
}

namespace {

void discard(int, const char *)
{
}

} // namespace

void ZND_FuzzQuietLog()
{
    ZND_LogSetSink(discard);
}

void ZND_FuzzEnterSandbox()
{
    static bool entered = false;
    if (entered)
        return;
    std::string why;
    if (ZND_TestEnterSandbox(&why) != 0) {
        fprintf(stderr, "fuzz: cannot enter the sandbox (%s); run as root\n", why.c_str());
        exit(1);
    }
    entered = true;
}

std::string ZND_FuzzText(const uint8_t *data, size_t size)
{
    const void *nul = memchr(data, 0, size);
    size_t len = nul ? (size_t)(static_cast<const uint8_t *>(nul) - data) : size;
    return std::string(reinterpret_cast<const char *>(data), len);
}

const char *ZND_FuzzFile(const uint8_t *data, size_t size)
{
    static int fd = -1;
    static char path[64];
    if (fd < 0) {
        fd = memfd_create("zunaro-fuzz-input", MFD_CLOEXEC);
        if (fd < 0) {
            perror("memfd_create");
            exit(1);
        }
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    }
    if (ftruncate(fd, 0) != 0 || (size > 0 && pwrite(fd, data, size, 0) != (ssize_t)size)) {
        perror("fuzz input file");
        exit(1);
    }
    return path;
}
