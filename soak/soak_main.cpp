// vk61-fault-soak: many firmware updates and airport uploads against the
// simulated installation with random faults; see README.md.
//
// The engine writes its log lines to standard output. They are sent to the
// file named by --engine-log (default /dev/null) and the soak's own report
// goes to what standard output was when the program started.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "soak_options.h"
#include "soak_session.h"
#include "settings_soak.h"

int main(int argc, char** argv) {
    std::string error;
    bool help = false;
    const std::optional<soak::SoakOptions> options = soak::parse_soak_options(argc, argv, &error, &help);
    if (!options) {
        std::fprintf(help ? stdout : stderr, "%s\n", error.c_str());
        return help ? 0 : 2;
    }

    std::fflush(stdout);
    const int report_fd = ::dup(STDOUT_FILENO);
    std::FILE* report = report_fd >= 0 ? ::fdopen(report_fd, "w") : nullptr;
    const int log_fd = ::open(options->engine_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (report == nullptr || log_fd < 0 || ::dup2(log_fd, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "cannot set up the report and the engine log %s\n", options->engine_log.c_str());
        return 2;
    }
    ::close(log_fd);

    int code = 0;
    {
        soak::SoakSession session(*options, report);
        code = session.run();
    }
    // On a bus of its own, once the transfers' rig is gone (one bridge at a time).
    if (code != 2 && options->settings_operations > 0) {
        soak::SettingsSoak settings(*options, report);
        if (!settings.run() && code == 0) code = 1;
    }
    std::fflush(stdout);
    std::fclose(report);
    return code;
}
