#include "core/shell_quote.h"

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
