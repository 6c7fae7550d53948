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
    vk61::TraceOpened opened = vk61::PcapTrace::create(path.toStdString());
    if (!opened.ok()) {
        std::fprintf(stderr, "%s\n", describe(opened).c_str());
        *failed = true;
    }
    return std::move(opened.trace);
}

}  // namespace vk61
