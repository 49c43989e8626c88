// The UCI text of a package file, as the host store reads it from /etc/config. A text that parses
// is rendered the way a commit writes it; that text must parse to the same package and render to
// the same bytes. A value set into the package (as UCI_SetCfgInfo does) must read back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include "fuzz_env.h"
#include "harness/uci_compare.h"
#include "platform/host/uci_file.h"

namespace {

std::string describe(const UciPackage &pkg)
{
    std::string out;
    for (const auto &sec : pkg.sections) {
        out += "[" + sec.type + "|" + sec.name + "]";
        for (const auto &opt : sec.options) {
            out += " " + opt.name + (opt.isList ? "[]" : "") + "=";
            for (const auto &v : opt.values)
                out += "<" + v + ">";
        }
        out += "\n";
    }
    return out;
}

// Parses what a commit of pkg writes; it must be pkg again, and render to the same text.
void commit_and_reload(const UciPackage &pkg, UciPackage *back)
{
    std::string text = UciRender(pkg);
    std::string error;
    ZND_FUZZ_CHECK(UciParse(text, back, &error), error + "\n" + text);
    ZND_FUZZ_CHECK(UciSamePackage(pkg, *back), describe(pkg) + "---\n" + describe(*back) + "---\n" + text);
    ZND_FUZZ_CHECK(UciRender(*back) == text, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The file text, then after a NUL the value that a set writes (values are C strings).
    std::string input(reinterpret_cast<const char *>(data), size);
    size_t cut = input.find('\0');
    std::string text = input.substr(0, cut);
    std::string value = cut == std::string::npos ? "" : ZND_FuzzText(data + cut + 1, size - cut - 1);

    UciPackage pkg;
    if (!UciParse(text, &pkg))
        return 0;
    UciPackage back;
    commit_and_reload(pkg, &back);

    // The set of a plain option in every named section, as the daemon's writes do.
    for (auto &sec : pkg.sections) {
        if (sec.name.empty())
            continue;
        UciSetOption(&sec, "zunaro_fuzz", value);
        commit_and_reload(pkg, &back);
        UciSection *found = UciFindSection(&back, sec.name);
        ZND_FUZZ_CHECK(found, sec.name);
        UciOption *opt = UciFindOption(found, "zunaro_fuzz");
        ZND_FUZZ_CHECK(opt && !opt->isList && opt->values.size() == 1 && opt->values[0] == value,
                       value + "\n" + UciRender(pkg));
        break;
    }
    return 0;
}
