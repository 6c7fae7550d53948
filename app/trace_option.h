// --trace FILE for the window's programs: every frame the window's bus
// connection sends or receives goes into a pcap capture that Wireshark opens
// as CAN FD (see comms/trace/pcap_trace.h).
#pragma once

#include <QCommandLineOption>
#include <QString>

#include <memory>

#include "trace/pcap_trace.h"

namespace vk61 {

// The option as the command-line parser lists it.
QCommandLineOption traceOption();

// Opens the trace at path; null when path is empty. A file that cannot be
// written is reported on standard error and sets *failed.
std::unique_ptr<vk61::PcapTrace> openTrace(const QString& path, bool* failed);

}  // namespace vk61
