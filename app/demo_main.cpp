// Entry of the demo build: the same window, linked against virtual_hidapi
// (which finds the simulated bridge through VK61_BRIDGE), with the downloads
// manifest taken from the demo's download server on loopback, or from the
// URL in VK61_DEMO_MANIFEST_URL. Only this executable reads that variable;
// the product's manifest URL is fixed at build time.
#include <QApplication>
#include <QUrl>

#include "demo_server_defaults.h"
#include "main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    WindowSettings settings;
    const QString url = qEnvironmentVariable("VK61_DEMO_MANIFEST_URL");
    settings.downloads.manifest_url = url.isEmpty() ? vk61::demo_manifest_url() : QUrl(url, QUrl::StrictMode);
    MainWindow window(settings);
    window.show();
    return app.exec();
}
