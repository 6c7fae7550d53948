#include "engine_log.h"

#include "debug_log.h"

namespace soak {

namespace {
// An operation that logs more than this is far off its normal course; the
// oldest lines are the ones kept, since they hold the first failure.
constexpr std::size_t kMaxLines = 200000;
}  // namespace

EngineLog::EngineLog() {
    vk61::set_debug_log_sink([this](const std::string& line) { append(line); });
}

EngineLog::~EngineLog() { vk61::set_debug_log_sink({}); }

void EngineLog::begin_operation() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::vector<std::string> EngineLog::lines() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    out.reserve(lines_.size());
    for (const Stamped& s : lines_) out.push_back(s.second);
    return out;
}

std::vector<EngineLog::Stamped> EngineLog::stamped_lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void EngineLog::append(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (lines_.size() < kMaxLines) lines_.emplace_back(std::chrono::steady_clock::now(), line);
}

}  // namespace soak
