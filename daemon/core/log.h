// Logging: three syslog line kinds, the debug switch, the key log, and the shell runner.
//
// Every value of a log line is written with its control characters escaped ("\n", "\r", "\t",
// "\x1b"), so that a user name, a cloud reply or a datagram can never start a line of its own; the
// format text of the line is written as it is. A secret (a password) is passed through
// ZND_LogSecret, which puts "***" in its place.
#pragma once
#include <string>
#include <syslog.h>
#include <type_traits>

// Writes the formatted line to the log sink, or appends it to the key log; the values are already
// escaped. Called through the macros below.
void ZND_LogLineEscaped(int priority, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void ZND_KeyLogEscaped(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Never does anything: a call in dead code lets the compiler check a format against its values.
inline void ZND_LogFormatCheck(const char *, ...) __attribute__((format(printf, 1, 2)));
inline void ZND_LogFormatCheck(const char *, ...) {}

// The text that stands in a log line for a secret value.
inline const char *ZND_LogSecret(const char *)
{
    return "***";
}

// text with every control character (below 0x20, and 0x7f) escaped.
std::string ZND_LogEscape(const char *text);

namespace znd_log {

// A text value as the line shows it. A null pointer shows as "(null)", spelled out here rather
// than left to printf, where it is undefined (and where an optimising compiler warns of it).
class Text {
public:
    explicit Text(const char *text) : text_(text ? ZND_LogEscape(text) : "(null)") {}
    const char *get() const { return text_.c_str(); }

private:
    std::string text_;
};

// Any other value goes in as it is.
template <typename T>
struct Plain {
    T value;
    T get() const { return value; }
};

template <typename T>
auto Value(const T &v)
{
    if constexpr (std::is_convertible_v<const T &, const char *>)
        return Text(v);
    else
        return Plain<T>{v};
}

// The escaped copies live until the line is written: temporaries last to the end of the call.
// The format is checked against the values where the line is logged (ZND_LogFormatCheck).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
template <typename... Args>
void Line(int priority, const char *fmt, const Args &...args)
{
    ZND_LogLineEscaped(priority, fmt, Value(args).get()...);
}

template <typename... Args>
void KeyLine(const char *fmt, const Args &...args)
{
    ZND_KeyLogEscaped(fmt, Value(args).get()...);
}
#pragma GCC diagnostic pop

} // namespace znd_log

#define ZND_LOG_SUFFIX "  [line:%d] [%s]\n"
#define ZND_LOG_LINE(priority, fmt, ...)                                 \
    do {                                                                 \
        if (false)                                                       \
            ZND_LogFormatCheck(fmt, ##__VA_ARGS__);                      \
        znd_log::Line(priority, fmt, ##__VA_ARGS__);                     \
    } while (0)
#define ZND_ERROR(fmt, ...) ZND_LOG_LINE(LOG_ERR, "[ZND_ERROR]  " fmt ZND_LOG_SUFFIX, ##__VA_ARGS__, __LINE__, __func__)
#define ZND_INFO(fmt, ...) ZND_LOG_LINE(LOG_INFO, "[ZND_INFO]  " fmt ZND_LOG_SUFFIX, ##__VA_ARGS__, __LINE__, __func__)
#define ZND_DBG(fmt, ...)                                                                          \
    do {                                                                                           \
        if (ZND_IsDebugOn())                                                                       \
            ZND_LOG_LINE(LOG_DEBUG, "[ZND_DBG]  " fmt ZND_LOG_SUFFIX, ##__VA_ARGS__, __LINE__, __func__); \
    } while (0)
#define ZND_KEYLOG(fmt, ...)                                             \
    do {                                                                 \
        if (false)                                                       \
            ZND_LogFormatCheck(fmt, ##__VA_ARGS__);                      \
        znd_log::KeyLine(fmt, ##__VA_ARGS__);                            \
    } while (0)

int ZND_IsDebugOn();
void ZND_DebugOn();
void ZND_DebugOff();

// Runs a command through the shell; returns the status that system() reports.
int ZND_System(const char *cmd);
// The same with input written to the command's standard input: the way to hand a command a secret.
int ZND_SystemInput(const char *cmd, const char *input);
