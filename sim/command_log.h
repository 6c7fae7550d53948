// The standalone simulator's one-line account of each command the host sends.
// Runs of write chunks are folded into one line (with a progress line every
// 1000 chunks) so an upload does not flood the terminal.
#pragma once

#include "bus_frame.h"

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace sim {

class CommandLog {
public:
    explicit CommandLog(std::FILE* out) : out_(out) {}

    void frame(const vk61::BusFrame& frame);  // any thread
    void line(const std::string& text);       // any thread; ends a chunk run first

    // The text for one host frame, e.g. "write setting 34 = 0x0000000A (seq 12)".
    static std::string describe(const vk61::BusFrame& frame);

private:
    void end_chunk_run();                 // mutex_ held
    void print(const std::string& text);  // mutex_ held

    std::FILE* out_;
    std::mutex mutex_;
    std::size_t run_chunks_ = 0;  // guarded by mutex_
    std::size_t run_bytes_ = 0;   // guarded by mutex_
    unsigned run_uid_ = 0;        // guarded by mutex_
};

}  // namespace sim
