// The soak's one source of randomness. Every choice of a run (operation,
// sizes, data, faults, moments) comes from here, so a seed replays a run.
//
// mt19937_64 is specified bit for bit by the standard; the reductions below
// are plain arithmetic rather than the standard distributions, whose output
// differs between library implementations, so a seed means the same run with
// any compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace soak {

class SoakRandom {
public:
    explicit SoakRandom(std::uint64_t seed) : engine_(seed) {}

    // Uniform in [lo, hi] (the modulo bias is below 2^-40 for the ranges used).
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) {
        if (hi <= lo) return lo;
        return lo + engine_() % (hi - lo + 1);
    }
    // True with probability percent / 100.
    bool percent(unsigned percent) { return between(0, 99) < percent; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(engine_()); }
    std::uint32_t word() { return static_cast<std::uint32_t>(engine_()); }

    template <class T>
    const T& pick(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(between(0, items.size() - 1))];
    }

private:
    std::mt19937_64 engine_;
};

}  // namespace soak
