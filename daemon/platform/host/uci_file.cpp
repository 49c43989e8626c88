// The UCI text format. A file is a sequence of statements, one per logical line:
//   package NAME | config TYPE [NAME] | option NAME [VALUE] | list NAME [VALUE]
// A word joins unquoted pieces, 'single quoted' pieces (taken literally, newlines included) and
// "double quoted" pieces (backslash takes the next character literally). Outside single quotes
// a backslash before a line end continues the line; '#' outside quotes starts a comment.
#include "platform/host/uci_file.h"

#include <algorithm>

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

class Lexer {
public:
    explicit Lexer(const std::string &text) : text_(text) {}

    // Reads the words of the next statement. *eof is set once the text is used up.
    bool NextStatement(std::vector<std::string> *words, bool *eof)
    {
        words->clear();
        *eof = false;
        start_line_ = line_;
        for (;;) {
            SkipBlanks();
            if (pos_ >= text_.size()) {
                *eof = true;
                return true;
            }
            char c = text_[pos_];
            if (c == '\n') {
                pos_++;
                line_++;
                return true;
            }
            if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n')
                    pos_++;
                continue;
            }
            if (words->empty())
                start_line_ = line_;
            std::string word;
            if (!ReadWord(&word))
                return false;
            words->push_back(word);
        }
    }

    // Line where the current statement starts; errors are reported there.
    int start_line() const { return start_line_; }
    const std::string &error() const { return error_; }

private:
    bool Fail(const char *why)
    {
        error_ = why;
        return false;
    }

    // Length of a backslash-newline (or backslash-CR-LF) sequence at pos, 0 if there is none.
    size_t ContinuationAt(size_t pos) const
    {
        if (pos >= text_.size() || text_[pos] != '\\')
            return 0;
        if (pos + 1 < text_.size() && text_[pos + 1] == '\n')
            return 2;
        if (pos + 2 < text_.size() && text_[pos + 1] == '\r' && text_[pos + 2] == '\n')
            return 3;
        return 0;
    }

    void SkipBlanks()
    {
        while (pos_ < text_.size()) {
            if (is_blank(text_[pos_])) {
                pos_++;
            } else if (size_t k = ContinuationAt(pos_)) {
                pos_ += k;
                line_++;
            } else {
                break;
            }
        }
    }

    bool ReadWord(std::string *word)
    {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (is_blank(c) || c == '\n' || c == '#')
                return true;
            bool ok = true;
            if (c == '\'')
                ok = SingleQuoted(word);
            else if (c == '"')
                ok = DoubleQuoted(word);
            else if (c == '\\')
                ok = Backslash(word);
            else if (c == '\0')
                ok = Fail("NUL byte");
            else {
                word->push_back(c);
                pos_++;
            }
            if (!ok)
                return false;
        }
        return true;
    }

    // At a backslash: a line continuation, or the next character taken literally.
    bool Backslash(std::string *word)
    {
        if (size_t k = ContinuationAt(pos_)) {
            pos_ += k;
            line_++;
            return true;
        }
        if (pos_ + 1 >= text_.size())
            return Fail("backslash at end of file");
        char c = text_[pos_ + 1];
        if (c == '\0')
            return Fail("NUL byte");
        word->push_back(c);
        pos_ += 2;
        return true;
    }

    bool SingleQuoted(std::string *word)
    {
        size_t end = text_.find('\'', pos_ + 1);
        if (end == std::string::npos)
            return Fail("unterminated single quote");
        for (size_t i = pos_ + 1; i < end; i++) {
            if (text_[i] == '\0')
                return Fail("NUL byte");
            if (text_[i] == '\n')
                line_++;
        }
        word->append(text_, pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
        return true;
    }

    bool DoubleQuoted(std::string *word)
    {
        pos_++;
        for (;;) {
            if (pos_ >= text_.size())
                return Fail("unterminated double quote");
            char c = text_[pos_];
            if (c == '"') {
                pos_++;
                return true;
            }
            if (c == '\\') {
                if (!Backslash(word))
                    return false;
                continue;
            }
            if (c == '\0')
                return Fail("NUL byte");
            if (c == '\n')
                line_++;
            word->push_back(c);
            pos_++;
        }
    }

    const std::string &text_;
    size_t pos_ = 0;
    int line_ = 1;
    int start_line_ = 1;
    std::string error_;
};

// Builds the package from statements; a statement that does not fit the grammar is an error.
class Builder {
public:
    explicit Builder(UciPackage *pkg) : pkg_(pkg) {}

    bool Apply(const std::vector<std::string> &w)
    {
        const std::string &keyword = w[0];
        if (keyword == "package")
            return Package(w);
        if (keyword == "config")
            return Config(w);
        if (keyword == "option" || keyword == "list")
            return Option(w, keyword == "list");
        return Fail("unknown statement");
    }

    const std::string &error() const { return error_; }

private:
    bool Fail(const char *why)
    {
        error_ = why;
        return false;
    }

    // The package name of a file is informative only: the file name decides.
    bool Package(const std::vector<std::string> &w)
    {
        if (w.size() != 2 || w[1].empty())
            return Fail("package needs one name");
        return true;
    }

    // A second section of the same name continues the first one, as a merge would.
    bool Config(const std::vector<std::string> &w)
    {
        if (w.size() < 2 || w.size() > 3)
            return Fail("config needs a type and at most a name");
        if (!UciIsValidType(w[1]))
            return Fail("invalid section type");
        std::string name = w.size() == 3 ? w[2] : std::string();
        if (!name.empty() && !UciIsValidName(name))
            return Fail("invalid section name");
        if (!name.empty()) {
            for (size_t i = 0; i < pkg_->sections.size(); i++) {
                if (pkg_->sections[i].name == name) {
                    pkg_->sections[i].type = w[1];
                    current_ = (int)i;
                    return true;
                }
            }
        }
        UciSection sec;
        sec.type = w[1];
        sec.name = name;
        pkg_->sections.push_back(sec);
        current_ = (int)pkg_->sections.size() - 1;
        return true;
    }

    // A list item added to a plain option turns the option into a list that keeps its value.
    bool Option(const std::vector<std::string> &w, bool isList)
    {
        if (current_ < 0)
            return Fail("option or list outside a section");
        if (w.size() < 2 || w.size() > 3)
            return Fail("option or list needs a name and at most a value");
        if (!UciIsValidName(w[1]))
            return Fail("invalid option name");
        std::string value = w.size() == 3 ? w[2] : std::string();
        UciSection *sec = &pkg_->sections[(size_t)current_];
        if (!isList) {
            UciSetOption(sec, w[1], value);
            return true;
        }
        UciOption *opt = UciFindOption(sec, w[1]);
        if (!opt) {
            sec->options.push_back(UciOption{w[1], true, {value}});
            return true;
        }
        opt->isList = true;
        opt->values.push_back(value);
        return true;
    }

    UciPackage *pkg_;
    int current_ = -1;
    std::string error_;
};

// Single-quoted text; a quote inside is closed, escaped and reopened.
std::string quote(const std::string &text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

// Types are written bare unless they hold a character the parser would not take literally.
std::string render_type(const std::string &type)
{
    return type.find_first_of("'\"\\#") == std::string::npos ? type : quote(type);
}

} // namespace

bool UciIsValidName(const std::string &name)
{
    if (name.empty())
        return false;
    for (unsigned char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool UciIsValidType(const std::string &type)
{
    if (type.empty())
        return false;
    for (unsigned char c : type)
        if (c < 33 || c > 126)
            return false;
    return true;
}

bool UciParse(const std::string &text, UciPackage *pkg, std::string *error)
{
    pkg->sections.clear();
    Lexer lexer(text);
    Builder builder(pkg);
    std::vector<std::string> words;
    bool eof = false;
    while (!eof) {
        if (!lexer.NextStatement(&words, &eof)) {
            if (error)
                *error = "line " + std::to_string(lexer.start_line()) + ": " + lexer.error();
            return false;
        }
        if (!words.empty() && !builder.Apply(words)) {
            if (error)
                *error = "line " + std::to_string(lexer.start_line()) + ": " + builder.error();
            return false;
        }
    }
    return true;
}

std::string UciRender(const UciPackage &pkg)
{
    std::string out;
    for (const UciSection &sec : pkg.sections) {
        out += "\nconfig " + render_type(sec.type);
        if (!sec.name.empty())
            out += " " + quote(sec.name);
        out += "\n";
        for (const UciOption &opt : sec.options) {
            const char *keyword = opt.isList ? "\tlist " : "\toption ";
            for (const std::string &value : opt.values)
                out += keyword + opt.name + " " + quote(value) + "\n";
        }
    }
    out += "\n";
    return out;
}

UciSection *UciFindSection(UciPackage *pkg, const std::string &name)
{
    if (name.empty())
        return nullptr;
    for (UciSection &sec : pkg->sections)
        if (sec.name == name)
            return &sec;
    return nullptr;
}

UciOption *UciFindOption(UciSection *sec, const std::string &name)
{
    for (UciOption &opt : sec->options)
        if (opt.name == name)
            return &opt;
    return nullptr;
}

void UciSetOption(UciSection *sec, const std::string &name, const std::string &value)
{
    UciOption *opt = UciFindOption(sec, name);
    if (!opt) {
        sec->options.push_back(UciOption{name, false, {value}});
        return;
    }
    opt->isList = false;
    opt->values.assign(1, value);
}

void UciRemoveOption(UciSection *sec, const std::string &name)
{
    auto &opts = sec->options;
    opts.erase(std::remove_if(opts.begin(), opts.end(), [&](const UciOption &o) { return o.name == name; }),
               opts.end());
}
