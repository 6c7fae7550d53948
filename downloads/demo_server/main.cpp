// vk61-download-server: serves a directory over plain HTTP on 127.0.0.1 so the
// demo build can try the fetch flows end to end. With --demo-content it first
// writes the demo manifest, firmware packages and airport databases into the
// directory, pointing their download URLs at itself.
//
// Prints one line "vk61-download-server: serving DIR at http://127.0.0.1:PORT/"
// on standard output once it is listening; runs until terminated.
#include "demo_content.h"
#include "demo_server_defaults.h"
#include "directory_handler.h"
#include "loopback_http_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loopback download server for the VK61 demo"));
    parser.addHelpOption();
    const QCommandLineOption root_option(
        QStringLiteral("root"), QStringLiteral("Directory to serve (created if missing)."), QStringLiteral("dir"));
    const QCommandLineOption port_option(QStringLiteral("port"),
                                         QStringLiteral("Port on 127.0.0.1; 0 picks a free one."),
                                         QStringLiteral("port"), QString::number(vk61::kDemoDownloadServerPort));
    const QCommandLineOption demo_option(
        QStringLiteral("demo-content"),
        QStringLiteral("Write the demo manifest, firmware and databases into the directory first."));
    parser.addOptions({root_option, port_option, demo_option});
    parser.process(app);

    if (!parser.isSet(root_option)) {
        std::fprintf(stderr, "vk61-download-server: --root is required\n");
        return 2;
    }
    bool port_ok = false;
    const uint port = parser.value(port_option).toUInt(&port_ok);
    if (!port_ok || port > 65535) {
        std::fprintf(stderr, "vk61-download-server: bad --port\n");
        return 2;
    }
    const QString root = QDir(parser.value(root_option)).absolutePath();
    QDir().mkpath(root);

    vk61::LoopbackHttpServer server(vk61::make_directory_handler(root));
    if (!server.listen(static_cast<quint16>(port))) {
        std::fprintf(stderr, "vk61-download-server: cannot listen on 127.0.0.1:%u: %s\n", port,
                     qPrintable(server.error_string()));
        return 1;
    }
    // Written after binding, so that the URLs carry the real port (also for --port 0).
    if (parser.isSet(demo_option)) {
        if (const vk61::FileWriteResult written = vk61::write_demo_content(root, server.url(QStringLiteral("/")));
            !written.ok()) {
            std::fprintf(stderr, "vk61-download-server: %s\n", qPrintable(vk61::describe(written)));
            return 1;
        }
    }
    std::printf("vk61-download-server: serving %s at %s\n", qPrintable(root),
                qPrintable(server.url(QStringLiteral("/")).toString()));
    std::fflush(stdout);
    return app.exec();
}
