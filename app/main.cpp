#include <QApplication>
#include <QCommandLineParser>

#include "files/checked_file_writer.h"
#include "main_window.h"

int main(int argc, char* argv[]) {
    vk61::ignore_file_size_signal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vk61-efis-config"));
    QApplication::setApplicationVersion(QStringLiteral(VK61_VERSION));

    // --help and --version only; the window needs nothing else to start.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configure and update a VK61 EFIS and its companion units over the USB bridge."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    MainWindow window;
    window.show();
    return app.exec();
}
