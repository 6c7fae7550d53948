#include "debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace vk61 {

namespace {
std::mutex g_log_mutex;
std::function<void(const std::string&)> g_sink;  // guarded by g_log_mutex
std::FILE* g_stream = stdout;                    // guarded by g_log_mutex
}  // namespace

void debug_log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        line.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    va_end(args);

    std::lock_guard lock(g_log_mutex);
    if (g_stream != nullptr) {
        std::fwrite(line.data(), 1, line.size(), g_stream);
        std::fflush(g_stream);
    }
    if (g_sink) g_sink(line);
}

void set_debug_log_sink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(g_log_mutex);
    g_sink = std::move(sink);
}

void set_debug_log_stream(std::FILE* stream) {
    std::lock_guard lock(g_log_mutex);
    g_stream = stream;
}

}  // namespace vk61
