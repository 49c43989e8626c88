#include "core/shell_quote.h"

#include <arpa/inet.h>
#include <cstring>

std::string ZND_ShellEscapeSingle(const char *text)
{
    std::string out;
    for (const char *p = text ? text : ""; *p; p++) {
        if (*p == '\'')
            out += "'\\''";
        else
            out += *p;
    }
    return out;
}

bool ZND_IsDottedIpv4(const char *text)
{
    struct in_addr a;
    return text && inet_pton(AF_INET, text, &a) == 1;
}

bool ZND_IsPlainIfName(const char *text)
{
    if (!text)
        return false;
    size_t len = strlen(text);
    if (len == 0 || len > 15 || text[0] == '-')
        return false;
    return strspn(text, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") == len;
}
