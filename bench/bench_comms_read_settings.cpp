// The configuration load: 44 sequential read_setting calls (header words
// 252-255, then settings 0-39) against the simulator with zero latency.
//
// Limit measured against: all 44 reads in under 50 ms.
#include "bench_comms_setup.h"

int main() {
    using namespace benchcomms;
    constexpr int kRuns = 9;
    constexpr unsigned kTimeoutMs = 500;

    ConnectedBus setup(3);
    std::vector<std::uint8_t> indices = {252, 253, 254, 255};
    for (std::uint8_t i = 0; i < 40; ++i) indices.push_back(i);

    std::vector<double> totals;
    std::vector<double> per_read;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        for (std::uint8_t index : indices) {
            const auto one = Clock::now();
            std::uint32_t value = 0;
            if (!setup.comms->read_setting_value(index, kTimeoutMs, &value)) fail("a read failed");
            per_read.push_back(ms_since(one) * 1000.0);
        }
        totals.push_back(ms_since(start));
    }
    std::fprintf(stderr, "44 sequential read_setting, %d runs (limit: 50 ms for all 44)\n", kRuns);
    std::fprintf(stderr, "  total        median %8.3f ms  min %8.3f ms  max %8.3f ms\n", median(totals),
                 *std::min_element(totals.begin(), totals.end()), *std::max_element(totals.begin(), totals.end()));
    std::fprintf(stderr, "  per read     median %8.1f us  (over %zu reads)\n", median(per_read), per_read.size());
    return 0;
}
