// The tool's exit codes, as --help and the README document them.
#pragma once

namespace vk61::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitBusFailure = 1,    // the operation failed on the bus or a unit, or was interrupted
    kExitBadInput = 2,      // bad usage or bad input; nothing was sent
    kExitNotConnected = 3,  // no bridge, or no unit answered
    kExitDownload = 4,      // a download or digest failure
};

inline constexpr char kExitCodesHelp[] =
    "Exit codes:\n"
    "  0  success\n"
    "  1  the operation failed on the bus or a unit (or was interrupted)\n"
    "  2  bad usage or bad input (unknown setting, value out of range, unreadable or bad file); nothing was sent\n"
    "  3  no bridge, or not connected\n"
    "  4  a download or digest failure\n";

}  // namespace vk61::cli
