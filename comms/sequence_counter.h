// The 24-bit sequence numbers of sequenced commands and erase commands.
//
// One counter per manager, shared by the settings channel and the erase run
// so that no two commands in flight carry the same number. Any thread; the
// counter is an atomic and takes no lock.
#pragma once

#include <atomic>
#include <cstdint>

namespace vk61 {

class SequenceCounter {
public:
    // The next number, 1 to 0xFFFFFF: never 0.
    std::uint32_t next() {
        for (;;) {
            const std::uint32_t value = value_.fetch_add(1) & 0xFFFFFFu;
            if (value != 0) return value;
        }
    }

private:
    std::atomic<std::uint32_t> value_{1};
};

}  // namespace vk61
