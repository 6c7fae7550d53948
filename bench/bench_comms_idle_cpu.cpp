// CPU used by a connected, idle manager: the receive thread polls the link
// with a 10 ms read time-out. Process CPU time (getrusage) over wall time;
// the idle simulator in the same process is counted too.
//
// Limit measured against: under 1% of one core.
#include <sys/resource.h>

#include "bench_comms_setup.h"

namespace {
double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
}  // namespace

int main() {
    using namespace benchcomms;
    constexpr int kRuns = 5;
    constexpr auto kWindow = std::chrono::seconds(3);

    ConnectedBus setup(3);
    std::vector<double> percent;
    for (int run = 0; run < kRuns; ++run) {
        const double cpu_start = cpu_seconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(kWindow);
        const double wall = ms_since(start) / 1000.0;
        percent.push_back(100.0 * (cpu_seconds() - cpu_start) / wall);
    }
    if (!setup.comms->is_connected()) fail("the link went down");
    std::fprintf(stderr, "idle connected manager, %d windows of 3 s (limit: 1%% of one core)\n", kRuns);
    std::fprintf(stderr, "  process CPU  median %6.3f %%  max %6.3f %%\n", median(percent),
                 *std::max_element(percent.begin(), percent.end()));
    return 0;
}
