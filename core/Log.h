// The core's one diagnostic channel. Engines log the fixed texts they are
// known by ("Open Failed\n", ...); the front end decides where they go: the
// desktop application routes them to its debug log, the command line to its
// own. Without a sink, messages go to standard error.
#pragma once

namespace tessaroo
{
typedef void (*LogSink)(const char* message);

// Replaces the sink (null restores standard error). Set once at start-up,
// before any engine runs.
void SetLogSink(LogSink sink);

// printf-style; the text is cut at 4 KiB.
void CoreLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
} // namespace tessaroo
