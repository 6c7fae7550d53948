#include "trace_option.h"

#include <QStringList>

#include <cstdio>

namespace vk61 {

QCommandLineOption traceOption() {
    return QCommandLineOption(
        QStringList{QStringLiteral("trace")},
        QStringLiteral("Record every bus frame sent and received in <file>, a pcap capture that Wireshark opens as "
                       "CAN FD."),
        QStringLiteral("file"));
}

std::unique_ptr<vk61::PcapTrace> openTrace(const QString& path, bool* failed) {
    *failed = false;
    if (path.isEmpty()) return nullptr;
    std::string error;
    std::unique_ptr<vk61::PcapTrace> trace = vk61::PcapTrace::create(path.toStdString(), &error);
    if (!trace) {
        std::fprintf(stderr, "%s\n", error.c_str());
        *failed = true;
    }
    return trace;
}

}  // namespace vk61
