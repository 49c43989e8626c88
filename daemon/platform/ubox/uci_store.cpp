// The configuration store on the router: libuci, one context per call. Look-ups read the package
// files as committed: staged changes of other UCI users (uci set without commit) are not applied.
// A set is staged in a delta directory of its own, which libuci's commit merges into the package
// under the package's lock and writes atomically; the directory goes away after every set, so a
// commit that failed leaves nothing that a later read or commit would pick up. libuci does not
// check the writes of the new text before it renames it over the package, so a commit is only
// started when the text fits on the file system.
#include "platform/uci_store.h"

#include <cstdio>
#include <cstdlib>
#include <sys/statvfs.h>
#include <unistd.h>

extern "C" {
#include <uci.h>
}

namespace {

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

// A delta directory used by one set.
class DeltaDir {
public:
    DeltaDir() : ok_(mkdtemp(path_) != nullptr) {}
    ~DeltaDir()
    {
        if (!ok_)
            return;
        if (!package_.empty())
            unlink((std::string(path_) + "/" + package_).c_str());
        rmdir(path_);
    }
    DeltaDir(const DeltaDir &) = delete;
    DeltaDir &operator=(const DeltaDir &) = delete;

    bool Use(struct uci_context *ctx, const char *package)
    {
        package_ = package;
        return ok_ && uci_set_savedir(ctx, path_) == UCI_OK;
    }

private:
    char path_[32] = "/tmp/.zunaro-uci.XXXXXX";
    bool ok_;
    std::string package_;
};

// Whether the text of the package, written beside it in the configuration directory, fits there.
bool fits(struct uci_context *ctx, struct uci_package *p)
{
    char *text = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&text, &len);
    if (!f)
        return false;
    int rc = uci_export(ctx, f, p, false);
    fclose(f);
    free(text);
    struct statvfs st;
    if (rc != UCI_OK || statvfs(ZND_UciConfDir(), &st) != 0)
        return false;
    uint64_t block = st.f_frsize ? st.f_frsize : st.f_bsize;
    // The blocks of the text, and one for the directory entry and what others add meanwhile.
    return (uint64_t)st.f_bavail >= (len + block - 1) / block + 1;
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
    UciContext uci;
    std::string text;
    struct uci_ptr ptr = {};
    if (!uci.Lookup(address, &text, &ptr))
        return ZND_UCI_LOOKUP_FAILED;
    // Only an existing named section takes a new value; uci_set would create the section.
    if (!ptr.s || !value)
        return 1;
    DeltaDir delta;
    if (!delta.Use(uci.get(), ptr.package))
        return 1;
    ptr.value = value;
    if (uci_set(uci.get(), &ptr) != UCI_OK || !fits(uci.get(), ptr.p))
        return 1;
    return uci_commit(uci.get(), &ptr.p, false) == UCI_OK ? 0 : 1;
}
