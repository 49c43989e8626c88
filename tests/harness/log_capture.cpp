#include "harness/log_capture.h"

#include <cstdio>

namespace {
LogCapture *g_capture = nullptr;

void stderr_sink(int, const char *line)
{
    fputs(line, stderr);
}
} // namespace

void ZND_TestLogToStderr()
{
    ZND_LogSetSink(stderr_sink);
}

LogCapture::LogCapture()
{
    g_capture = this;
    saved_ = ZND_LogSetSink(&LogCapture::Sink);
}

LogCapture::~LogCapture()
{
    ZND_LogSetSink(saved_);
    g_capture = nullptr;
}

void LogCapture::Sink(int priority, const char *line)
{
    if (g_capture)
        g_capture->lines_.push_back(Line{priority, line});
}

size_t LogCapture::Count(const std::string &text) const
{
    size_t n = 0;
    for (const auto &l : lines_)
        if (l.text.find(text) != std::string::npos)
            n++;
    return n;
}

int LogCapture::IndexOf(const std::string &text, int from) const
{
    for (size_t i = (size_t)from; i < lines_.size(); i++)
        if (lines_[i].text.find(text) != std::string::npos)
            return (int)i;
    return -1;
}
