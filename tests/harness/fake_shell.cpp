#include "harness/fake_shell.h"

#include "platform/shell.h"

namespace {
FakeShell *g_active = nullptr;
} // namespace

FakeShell::FakeShell()
{
    static const ZND_ShellOps ops = {&FakeShell::RunThunk, &FakeShell::ReadThunk, &FakeShell::RunInputThunk};
    g_active = this;
    saved_ = ZND_ShellSetOps(&ops);
}

FakeShell::~FakeShell()
{
    ZND_ShellSetOps(saved_);
    g_active = nullptr;
}

FakeShell &FakeShell::On(const std::string &pattern, int status, const std::string &output,
                         std::function<void(const std::string &)> effect, int times)
{
    rules_.push_back(Rule{pattern, status, output, std::move(effect), times});
    return *this;
}

FakeShell &FakeShell::FailRead(const std::string &pattern)
{
    read_failures_.push_back(pattern);
    return *this;
}

FakeShell::Rule *FakeShell::Find(const std::string &cmd)
{
    for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
        if (it->remaining == 0 || cmd.find(it->pattern) == std::string::npos)
            continue;
        if (it->remaining > 0)
            it->remaining--;
        return &*it;
    }
    return nullptr;
}

size_t FakeShell::Count(const std::string &pattern) const
{
    size_t n = 0;
    for (const auto &c : commands_)
        if (c.find(pattern) != std::string::npos)
            n++;
    return n;
}

std::vector<std::string> FakeShell::Matching(const std::string &pattern) const
{
    std::vector<std::string> out;
    for (const auto &c : commands_)
        if (c.find(pattern) != std::string::npos)
            out.push_back(c);
    return out;
}

std::string FakeShell::InputOf(const std::string &pattern) const
{
    for (size_t i = commands_.size(); i-- > 0;)
        if (commands_[i].find(pattern) != std::string::npos)
            return inputs_[i];
    return "";
}

void FakeShell::Record(const char *cmd, const char *input)
{
    commands_.push_back(cmd);
    inputs_.push_back(input);
}

int FakeShell::RunThunk(const char *cmd)
{
    return RunInputThunk(cmd, "");
}

int FakeShell::RunInputThunk(const char *cmd, const char *input)
{
    FakeShell *self = g_active;
    self->Record(cmd, input);
    Rule *rule = self->Find(cmd);
    if (!rule)
        return self->default_status_;
    if (rule->effect)
        rule->effect(cmd);
    return rule->status;
}

int FakeShell::ReadThunk(const char *cmd, std::string *out)
{
    FakeShell *self = g_active;
    self->Record(cmd, "");
    out->clear();
    for (const auto &p : self->read_failures_)
        if (std::string(cmd).find(p) != std::string::npos)
            return -1;
    Rule *rule = self->Find(cmd);
    if (rule) {
        if (rule->effect)
            rule->effect(cmd);
        *out = rule->output;
    }
    return 0;
}
