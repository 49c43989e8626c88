// A scripted shell for unit tests: records every command the daemon runs, with what it was given on
// its standard input, and answers with the status and output of the first matching rule.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct ZND_ShellOps;

class FakeShell {
public:
    struct Rule {
        std::string pattern;   // substring of the command text
        int status;            // as system() reports it (use Exit(n) for an exit code)
        std::string output;    // standard output for readers
        std::function<void(const std::string &cmd)> effect;   // runs before answering
        int remaining;         // answers left; -1 = unlimited
    };

    FakeShell();
    ~FakeShell();
    FakeShell(const FakeShell &) = delete;
    FakeShell &operator=(const FakeShell &) = delete;

    static int Exit(int code) { return code << 8; }

    // Later rules take precedence over earlier ones with the same match.
    FakeShell &On(const std::string &pattern, int status, const std::string &output = "",
                  std::function<void(const std::string &)> effect = nullptr, int times = -1);
    // Makes ZND_ShellRead report that the pipe could not be opened for matching commands.
    FakeShell &FailRead(const std::string &pattern);
    void SetDefaultStatus(int status) { default_status_ = status; }

    const std::vector<std::string> &commands() const { return commands_; }
    size_t Count(const std::string &pattern) const;
    bool Ran(const std::string &pattern) const { return Count(pattern) > 0; }
    // Commands that contain pattern, in order.
    std::vector<std::string> Matching(const std::string &pattern) const;
    // What the last command that contains pattern was given on its standard input ("" for none).
    std::string InputOf(const std::string &pattern) const;
    void Clear()
    {
        commands_.clear();
        inputs_.clear();
    }

private:
    static int RunThunk(const char *cmd);
    static int ReadThunk(const char *cmd, std::string *out);
    static int RunInputThunk(const char *cmd, const char *input);
    void Record(const char *cmd, const char *input);
    Rule *Find(const std::string &cmd);

    std::vector<Rule> rules_;
    std::vector<std::string> read_failures_;
    std::vector<std::string> commands_;
    std::vector<std::string> inputs_;   // beside commands_
    int default_status_ = 0;
    const ZND_ShellOps *saved_;
};
