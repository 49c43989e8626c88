// Whether two parsed UCI packages hold the same sections, options and values in the same order,
// for the checks that render a package and parse it back.
#pragma once
#include <cstddef>
#include "platform/host/uci_file.h"

inline bool UciSamePackage(const UciPackage &a, const UciPackage &b)
{
    if (a.sections.size() != b.sections.size())
        return false;
    for (size_t i = 0; i < a.sections.size(); i++) {
        const UciSection &x = a.sections[i], &y = b.sections[i];
        if (x.type != y.type || x.name != y.name || x.options.size() != y.options.size())
            return false;
        for (size_t j = 0; j < x.options.size(); j++) {
            const UciOption &p = x.options[j], &q = y.options[j];
            if (p.name != q.name || p.isList != q.isList || p.values != q.values)
                return false;
        }
    }
    return true;
}
