#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstring>

#include "files/checked_file_writer.h"
#include "main_window.h"
#include "trace_option.h"

namespace {

// --help, --version and --trace FILE; the window needs nothing else to
// start. Returns the trace file asked for, or an empty text.
QString process_options(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configure and update a VK61 EFIS and its companion units over the USB bridge."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption trace = vk61::traceOption();
    parser.addOption(trace);
    parser.process(app);
    return parser.value(trace);
}

// Whether the command line asks for help or the version. Those answers need
// no display, so they are given before the GUI application (which aborts
// without one) is created. Other options, Qt's own (-platform) among them,
// are left to the GUI application and the parser after it.
bool wants_text_only(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    vk61::ignore_file_size_signal();
    if (wants_text_only(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("vk61-efis-config"));
        QCoreApplication::setApplicationVersion(QStringLiteral(VK61_VERSION));
        process_options(app);  // exits
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vk61-efis-config"));
    QApplication::setApplicationVersion(QStringLiteral(VK61_VERSION));
    bool trace_failed = false;
    const std::unique_ptr<vk61::PcapTrace> trace = vk61::openTrace(process_options(app), &trace_failed);
    if (trace_failed) return 2;
    vk61::WindowSettings settings;
    settings.frame_recorder = trace.get();

    vk61::MainWindow window(settings);
    window.show();
    return app.exec();
}
