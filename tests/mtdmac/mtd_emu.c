/*
 * LD_PRELOAD library that makes a regular file at /dev/mtd2 behave like an MTD character
 * device for mtdmac: MEMERASE sets the range to 0xFF (only whole erase blocks inside the
 * device), and a write can only clear bits, as on NOR flash, so a block written without an
 * erase comes out wrong. Faults are chosen through the environment:
 *   MTDEMU_LOG         file receiving one line per open, read, erase and write of the device
 *   MTDEMU_ERASE       "fail": MEMERASE fails with EIO
 *   MTDEMU_ERASE_SIZE  erase block size (default 65536)
 *   MTDEMU_WRITE       "short-once" (first write stores 1000 bytes), "short-always" (every write
 *                      stores at most 1000), "eintr-once", "fail", "fail-once" (only the first
 *                      write fails), "short-then-fail", "zero"
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#define DEVICE "/dev/mtd2"
#define SHORT_WRITE 1000

static int write_calls;

static void *next_symbol(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

static ssize_t real_write(int fd, const void *buf, size_t count)
{
    static ssize_t (*fn)(int, const void *, size_t);
    if (!fn)
        fn = (ssize_t(*)(int, const void *, size_t))next_symbol("write");
    return fn(fd, buf, count);
}

static int env_is(const char *name, const char *value)
{
    const char *v = getenv(name);
    return v != NULL && strcmp(v, value) == 0;
}

static void log_line(const char *fmt, ...)
{
    const char *path = getenv("MTDEMU_LOG");
    if (path == NULL)
        return;
    char line[128];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    int (*open_fn)(const char *, int, ...) = (int (*)(const char *, int, ...))next_symbol("open");
    int fd = open_fn(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (real_write(fd, line, (size_t)n) < 0)
            perror("mtdemu log");
        close(fd);
    }
}

static int is_device(int fd)
{
    char link[64], target[256];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0)
        return 0;
    target[n] = '\0';
    return strcmp(target, DEVICE) == 0;
}

static int open_common(const char *fn_name, const char *path, int flags, mode_t mode)
{
    int (*fn)(const char *, int, ...) = (int (*)(const char *, int, ...))next_symbol(fn_name);
    if (path != NULL && strcmp(path, DEVICE) == 0)
        log_line("open %s%s%s\n", (flags & O_ACCMODE) == O_RDWR ? "rdwr" : "not-rdwr",
                 (flags & O_SYNC) == O_SYNC ? " sync" : "", (flags & O_CREAT) ? " creat" : "");
    return fn(path, flags, mode);
}

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    return open_common("open", path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    return open_common("open64", path, flags, mode);
}

ssize_t read(int fd, void *buf, size_t count)
{
    static ssize_t (*fn)(int, void *, size_t);
    if (!fn)
        fn = (ssize_t(*)(int, void *, size_t))next_symbol("read");
    ssize_t n = fn(fd, buf, count);
    if (is_device(fd))
        log_line("read %zu %zd\n", count, n);
    return n;
}

static int emulate_erase(int fd, const struct erase_info_user *req)
{
    const char *size_text = getenv("MTDEMU_ERASE_SIZE");
    unsigned long erase_size = size_text ? strtoul(size_text, NULL, 0) : 65536;
    struct stat st;
    log_line("erase %u %u\n", req->start, req->length);
    if (env_is("MTDEMU_ERASE", "fail")) {
        errno = EIO;
        return -1;
    }
    if (fstat(fd, &st) != 0 || req->length == 0 || req->start % erase_size != 0 ||
        req->length % erase_size != 0 || (off_t)req->start + (off_t)req->length > st.st_size) {
        errno = EINVAL;
        return -1;
    }
    static unsigned char erased[65536];
    memset(erased, 0xFF, sizeof erased);
    for (unsigned done = 0; done < req->length; done += sizeof erased) {
        size_t chunk = req->length - done < sizeof erased ? req->length - done : sizeof erased;
        if (pwrite(fd, erased, chunk, (off_t)req->start + done) != (ssize_t)chunk)
            return -1;
    }
    return 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (request == MEMERASE && is_device(fd))
        return emulate_erase(fd, (const struct erase_info_user *)arg);
    int (*fn)(int, unsigned long, ...) = (int (*)(int, unsigned long, ...))next_symbol("ioctl");
    return fn(fd, request, arg);
}

/* Programming flash can only turn 1 bits into 0 bits. */
static ssize_t program(int fd, const unsigned char *data, size_t count)
{
    off_t at = lseek(fd, 0, SEEK_CUR);
    unsigned char cell[4096];
    size_t done = 0;
    while (done < count) {
        size_t chunk = count - done < sizeof cell ? count - done : sizeof cell;
        ssize_t got = pread(fd, cell, chunk, at + (off_t)done);
        if (got < 0)
            return -1;
        memset(cell + got, 0xFF, chunk - (size_t)got);
        for (size_t i = 0; i < chunk; i++)
            cell[i] &= data[done + i];
        if (pwrite(fd, cell, chunk, at + (off_t)done) != (ssize_t)chunk)
            return -1;
        done += chunk;
    }
    lseek(fd, at + (off_t)count, SEEK_SET);
    return (ssize_t)count;
}

ssize_t write(int fd, const void *buf, size_t count)
{
    if (!is_device(fd))
        return real_write(fd, buf, count);
    int call = ++write_calls;
    size_t n = count;
    if (env_is("MTDEMU_WRITE", "fail") || (env_is("MTDEMU_WRITE", "fail-once") && call == 1) ||
        (env_is("MTDEMU_WRITE", "short-then-fail") && call > 1)) {
        log_line("write %zu -1\n", count);
        errno = EIO;
        return -1;
    }
    if (env_is("MTDEMU_WRITE", "eintr-once") && call == 1) {
        log_line("write %zu eintr\n", count);
        errno = EINTR;
        return -1;
    }
    if (env_is("MTDEMU_WRITE", "zero")) {
        log_line("write %zu 0\n", count);
        return 0;
    }
    if ((env_is("MTDEMU_WRITE", "short-once") && call == 1) || env_is("MTDEMU_WRITE", "short-always") ||
        env_is("MTDEMU_WRITE", "short-then-fail"))
        n = count < SHORT_WRITE ? count : SHORT_WRITE;
    ssize_t done = program(fd, (const unsigned char *)buf, n);
    log_line("write %zu %zd\n", count, done);
    return done;
}
