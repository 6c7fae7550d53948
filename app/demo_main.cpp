// Entry of the demo build: the same window, linked against virtual_hidapi
// (which finds the simulated bridge through VK61_BRIDGE), with the downloads
// manifest taken from the demo's download server on loopback.
#include <QApplication>
#include <QUrl>

#include "downloads/testing_hooks.h"
#include "main_window.h"

#ifndef VK61_DEMO_MANIFEST_URL
#define VK61_DEMO_MANIFEST_URL "http://127.0.0.1:47080/firmware/downloads_manifest.json"
#endif

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    vk61::set_manifest_url_override_for_testing(QUrl(QStringLiteral(VK61_DEMO_MANIFEST_URL)));
    MainWindow window;
    window.show();
    return app.exec();
}
