// Entry of the demo build: the same window, linked against virtual_hidapi
// (which finds the simulated bridge through VK61_BRIDGE), with the downloads
// manifest taken from the demo's download server on loopback, or from the
// URL in VK61_DEMO_MANIFEST_URL. Only this executable reads that variable;
// the product's manifest URL is fixed at build time.
#include <QApplication>
#include <QCommandLineParser>
#include <QUrl>

#include "demo_server_defaults.h"
#include "main_window.h"
#include "trace_option.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption trace_option = vk61::traceOption();
    parser.addOption(trace_option);
    parser.process(app);
    bool trace_failed = false;
    const std::unique_ptr<vk61::PcapTrace> trace = vk61::openTrace(parser.value(trace_option), &trace_failed);
    if (trace_failed) return 2;
    vk61::WindowSettings settings;
    settings.frame_recorder = trace.get();
    const QString url = qEnvironmentVariable("VK61_DEMO_MANIFEST_URL");
    settings.downloads.manifest_url = url.isEmpty() ? vk61::demo_manifest_url() : QUrl(url, QUrl::StrictMode);
    vk61::MainWindow window(settings);
    window.show();
    return app.exec();
}
