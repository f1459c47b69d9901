#include "core/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace tessaroo
{
namespace
{
std::atomic<LogSink> g_sink{nullptr};
}

void SetLogSink(LogSink sink)
{
    g_sink.store(sink);
}

void CoreLog(const char* fmt, ...)
{
    char text[4096];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof(text), fmt, ap);
    va_end(ap);
    LogSink sink = g_sink.load();
    if (sink)
        sink(text);
    else
        fputs(text, stderr);
}
} // namespace tessaroo
