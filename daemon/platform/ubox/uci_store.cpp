// The configuration store on the router: libuci, one context per call. Look-ups read the package
// files as committed: staged changes of other UCI users (uci set without commit) are not applied.
// A set stages nothing: under the package file's lock it reads the package, sets the option and
// commits the new text (uci_commit.h), checking every write, then reads the value back.
#include "platform/uci_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include "platform/ubox/uci_commit.h"

extern "C" {
#include <uci.h>
}

namespace {

// Sets of one value before the store gives up on a package that others keep replacing.
constexpr int kSetAttempts = 5;

// Never a directory, so no delta is ever read from it.
const char kNoDeltas[] = "/dev/null";

// A new context reads the staged changes of the uci tool's shared delta directory (/tmp/.uci)
// into every package it loads. The store reads committed packages only: the directory is
// forgotten, and freed as libuci frees the elements of that list.
void forget_delta_dirs(struct uci_context *ctx)
{
    struct uci_list *head = &ctx->delta_path;
    while (head->next != head) {
        struct uci_element *e = list_to_element(head->next);
        e->list.prev->next = e->list.next;
        e->list.next->prev = e->list.prev;
        free(e->name);
        free(e);
    }
}

class UciContext {
public:
    UciContext() : ctx_(uci_alloc_context())
    {
        if (!ctx_)
            return;
        forget_delta_dirs(ctx_);
        if (uci_set_confdir(ctx_, ZND_UciConfDir()) != UCI_OK || uci_set_savedir(ctx_, kNoDeltas) != UCI_OK) {
            uci_free_context(ctx_);
            ctx_ = nullptr;
        }
    }
    ~UciContext()
    {
        if (ctx_)
            uci_free_context(ctx_);
    }
    UciContext(const UciContext &) = delete;
    UciContext &operator=(const UciContext &) = delete;

    struct uci_context *get() const { return ctx_; }

    // Resolves an address of the store's form; false when it is malformed or its package cannot
    // be loaded. The pointer refers into text, which libuci cuts up.
    bool Lookup(const char *address, std::string *text, struct uci_ptr *ptr)
    {
        ZND_UciAddress parts;
        if (!ctx_ || !ZND_UciSplitAddress(address, &parts))
            return false;
        *text = address;
        return uci_lookup_ptr(ctx_, ptr, &(*text)[0], false) == UCI_OK;
    }

private:
    struct uci_context *ctx_;
};

// The package as text, in libuci's canonical form.
bool export_text(struct uci_context *ctx, struct uci_package *p, std::string *text)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    if (!f)
        return false;
    int rc = uci_export(ctx, f, p, false);
    bool ok = fclose(f) == 0 && rc == UCI_OK;
    if (ok)
        text->assign(buf, len);
    free(buf);
    return ok;
}

// Reads the locked package, sets the option in it and commits the result unless the option
// already holds the value. ZND_UciSet's codes.
int set_locked(ZND_UciLockedPackage *pkg, const char *address, const char *value)
{
    UciContext uci;
    FILE *in = nullptr;
    int fd = dup(pkg->fd);
    if (!uci.get() || fd < 0 || !(in = fdopen(fd, "r"))) {
        if (fd >= 0)
            close(fd);
        return 1;
    }
    struct uci_package *p = nullptr;
    int rc = uci_import(uci.get(), in, pkg->name.c_str(), &p, true);
    fclose(in);
    std::string text, before, after;
    struct uci_ptr ptr = {};
    if (rc != UCI_OK || !p || !uci.Lookup(address, &text, &ptr))
        return ZND_UCI_LOOKUP_FAILED;
    // Only an existing named section takes a new value; uci_set would create the section.
    if (!ptr.s)
        return 1;
    if (!export_text(uci.get(), p, &before))
        return 1;
    ptr.value = value;
    if (uci_set(uci.get(), &ptr) != UCI_OK || !export_text(uci.get(), ptr.p, &after))
        return 1;
    if (after == before)
        return 0;
    return ZND_UciReplacePackage(pkg, after) ? 0 : 1;
}

// Whether the package as committed now holds the value (no option for an empty one).
bool holds(const char *address, const char *value)
{
    std::string now;
    int rc = ZND_UciGet(address, &now);
    return *value ? rc == ZND_UCI_COMPLETE && now == value : rc == ZND_UCI_INCOMPLETE;
}

} // namespace

int ZND_UciGet(const char *address, std::string *value)
{
    UciContext uci;
    std::string text;
    struct uci_ptr ptr = {};
    if (!uci.Lookup(address, &text, &ptr))
        return ZND_UCI_LOOKUP_FAILED;
    // A list has no single text value.
    if (!(ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) || !ptr.o || ptr.o->type != UCI_TYPE_STRING)
        return ZND_UCI_INCOMPLETE;
    if (value)
        *value = ptr.o->v.string;
    return ZND_UCI_COMPLETE;
}

int ZND_UciGetValues(const char *address, std::vector<std::string> *values)
{
    UciContext uci;
    std::string text;
    struct uci_ptr ptr = {};
    if (!uci.Lookup(address, &text, &ptr))
        return ZND_UCI_LOOKUP_FAILED;
    if (!(ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) || !ptr.o)
        return ZND_UCI_INCOMPLETE;
    values->clear();
    if (ptr.o->type == UCI_TYPE_STRING) {
        values->push_back(ptr.o->v.string);
        return ZND_UCI_COMPLETE;
    }
    struct uci_element *e;
    uci_foreach_element(&ptr.o->v.list, e)
        values->push_back(e->name);
    return ZND_UCI_COMPLETE;
}

int ZND_UciSet(const char *address, const char *value)
{
    ZND_UciAddress parts;
    if (!ZND_UciSplitAddress(address, &parts))
        return ZND_UCI_LOOKUP_FAILED;
    if (!value)
        return 1;
    // A writer that does not take the lock (or one that renamed after we gave up waiting for it)
    // can still replace the package with text it read before our commit: the value is read back
    // and set again.
    for (int attempt = 0; attempt < kSetAttempts; attempt++) {
        ZND_UciLockedPackage pkg;
        if (!ZND_UciLockPackage(ZND_UciConfDir(), parts.package.c_str(), &pkg))
            return errno == ENOENT || errno == EISDIR || errno == ENOTDIR ? ZND_UCI_LOOKUP_FAILED : 1;
        int rc = set_locked(&pkg, address, value);
        bool overtaken = rc == 1 && errno == EAGAIN;
        ZND_UciUnlockPackage(&pkg);
        if (overtaken)
            continue;
        if (rc != 0)
            return rc;
        if (holds(address, value))
            return 0;
    }
    return 1;
}
