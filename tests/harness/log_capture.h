// Captures the daemon's log lines for assertions.
#pragma once
#include <string>
#include <vector>
#include "platform/syslog.h"

class LogCapture {
public:
    struct Line {
        int priority;
        std::string text;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    const std::vector<Line> &lines() const { return lines_; }
    // Number of lines that contain text.
    size_t Count(const std::string &text) const;
    bool Has(const std::string &text) const { return Count(text) > 0; }
    // Index of the first line at or after from that contains text, or -1.
    int IndexOf(const std::string &text, int from = 0) const;
    void Clear() { lines_.clear(); }

private:
    static void Sink(int priority, const char *line);
    std::vector<Line> lines_;
    ZND_LogSinkFn saved_;
};

// Sends the daemon's log lines to standard error, where a death test's matcher reads them.
void ZND_TestLogToStderr();
