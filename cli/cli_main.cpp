#include "cli_main.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli.h"
#include "files/checked_file_writer.h"

namespace vk61::cli {

namespace {

// Set by the signal handler; lock-free, so writing it there is safe. The one
// mutable global of the tool: a signal handler reaches nothing else.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_interrupt(int signal_number) {
    g_interrupted.store(true);
    // A second Ctrl-C ends the process at once (a download that is waiting
    // for its time-out, say).
    std::signal(signal_number, SIG_DFL);
}

}  // namespace

int cli_main(int argc, char** argv, const char* program, const char* application_name,
             const DownloadSettings& downloads) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(application_name));
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    ignore_file_size_signal();

    CliEnvironment env;
    env.program = program;
    env.downloads = downloads;
    env.interrupted = &g_interrupted;
    std::vector<std::string> args(argv + 1, argv + argc);
    return run_cli(args, std::cout, std::cerr, env);
}

}  // namespace vk61::cli
