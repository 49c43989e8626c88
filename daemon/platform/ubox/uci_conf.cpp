// The directory of the package files and the form of an address.
#include "platform/uci_store.h"

#include <cstring>

namespace {

const char kDefaultConfDir[] = "/etc/config";
std::string g_conf_dir = kDefaultConfDir;

bool is_name(const std::string &s)
{
    if (s.empty())
        return false;
    for (unsigned char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

} // namespace

bool ZND_UciSplitAddress(const char *address, ZND_UciAddress *out)
{
    if (!address)
        return false;
    const char *a = strchr(address, '.');
    const char *b = a ? strchr(a + 1, '.') : nullptr;
    if (!b)
        return false;
    out->package.assign(address, (size_t)(a - address));
    out->section.assign(a + 1, (size_t)(b - a - 1));
    out->option = b + 1;
    return is_name(out->package) && is_name(out->section) && is_name(out->option);
}

void ZND_UciSetConfDir(const char *dir)
{
    g_conf_dir = dir && *dir ? dir : kDefaultConfDir;
}

const char *ZND_UciConfDir()
{
    return g_conf_dir.c_str();
}
