// The engine's diagnostic log: printf-style lines on standard output.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace vk61 {

// Writes one formatted line (the caller supplies the trailing "\n") to
// standard output and flushes it. Safe from any thread.
void debug_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Test hook: every line written is also handed to the sink (empty = none).
// The sink runs on the logging thread, under the log's own lock.
void set_debug_log_sink(std::function<void(const std::string& line)> sink);

// Where the lines are written: standard output unless changed. The
// command-line tool keeps standard output for its results and sends the lines
// to standard error, or nowhere (null) without --verbose; the sink still
// gets every line.
void set_debug_log_stream(std::FILE* stream);

}  // namespace vk61
