// UCI package files: the text format parsed into a model of sections and options, and the
// model rendered back in the canonical form that a commit writes.
#pragma once
#include <string>
#include <vector>

struct UciOption {
    std::string name;
    bool isList = false;
    std::vector<std::string> values;   // exactly one for a plain option
};

struct UciSection {
    std::string type;
    std::string name;   // empty for an anonymous section
    std::vector<UciOption> options;
};

struct UciPackage {
    std::vector<UciSection> sections;
};

// Parses the text of a package file. On a syntax error returns false and, when error is given,
// describes it with its line number; *pkg is then unspecified.
bool UciParse(const std::string &text, UciPackage *pkg, std::string *error = nullptr);
// The canonical text of a package: sections as "config TYPE 'NAME'", tab-indented options and
// list items, every value single-quoted.
std::string UciRender(const UciPackage &pkg);

// Names of packages, sections and options: one or more of [A-Za-z0-9_].
bool UciIsValidName(const std::string &name);
// Section types: one or more printable, non-blank ASCII characters.
bool UciIsValidType(const std::string &type);

// Named section look-up; anonymous sections are never found.
UciSection *UciFindSection(UciPackage *pkg, const std::string &name);
UciOption *UciFindOption(UciSection *sec, const std::string &name);
// Sets a plain option: replaces an option or list of that name in place, or appends the option.
void UciSetOption(UciSection *sec, const std::string &name, const std::string &value);
// Removes the option or list of that name, if there is one.
void UciRemoveOption(UciSection *sec, const std::string &name);
