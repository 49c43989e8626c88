// Until the configuration store backend is linked in, a minimal reader of UCI files stands in for
// it: weak, so that the real backend replaces it as soon as it is part of the build. It reads
// "config TYPE 'NAME'" and "option NAME 'VALUE'" lines of /etc/config/PACKAGE.
#include <fstream>
#include <sstream>
#include <string>
#include "platform/uci_store.h"

namespace {

std::string unquote(std::string s)
{
    if (s.size() >= 2 && (s[0] == '\'' || s[0] == '"') && s.back() == s[0])
        return s.substr(1, s.size() - 2);
    return s;
}

} // namespace

__attribute__((weak)) int ZND_UciGet(const char *address, std::string *value)
{
    std::string addr(address);
    size_t d1 = addr.find('.'), d2 = addr.find('.', d1 + 1);
    if (d1 == std::string::npos || d2 == std::string::npos)
        return ZND_UCI_LOOKUP_FAILED;
    std::ifstream f("/etc/config/" + addr.substr(0, d1));
    if (!f)
        return ZND_UCI_LOOKUP_FAILED;
    std::string section = addr.substr(d1 + 1, d2 - d1 - 1), option = addr.substr(d2 + 1), line, cur;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string kw, a, b;
        in >> kw >> a;
        std::getline(in >> std::ws, b);
        if (kw == "config")
            cur = unquote(b);
        else if (kw == "option" && cur == section && a == option) {
            *value = unquote(b);
            return ZND_UCI_COMPLETE;
        }
    }
    return ZND_UCI_INCOMPLETE;
}

__attribute__((weak)) int ZND_UciSet(const char *, const char *)
{
    return ZND_UCI_LOOKUP_FAILED;
}
