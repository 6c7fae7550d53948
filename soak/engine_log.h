// The engine's log lines of the operation in progress, taken through the
// engine's test hook (set_debug_log_sink). The lines also still go to standard
// output, which the soak points at its engine log file.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace soak {

class EngineLog {
public:
    EngineLog();   // installs the sink
    ~EngineLog();  // removes it; no line arrives afterwards
    EngineLog(const EngineLog&) = delete;
    EngineLog& operator=(const EngineLog&) = delete;

    // Forgets the lines so far: the next operation starts with none.
    void begin_operation();
    std::vector<std::string> lines() const;
    // The lines with the time each was logged.
    using Stamped = std::pair<std::chrono::steady_clock::time_point, std::string>;
    std::vector<Stamped> stamped_lines() const;

private:
    // Runs on the logging thread under the log's own lock; takes mutex_ inside
    // it. Nothing here logs while holding mutex_, so the order is fixed.
    void append(const std::string& line);

    mutable std::mutex mutex_;
    std::vector<Stamped> lines_;  // guarded by mutex_
};

}  // namespace soak
