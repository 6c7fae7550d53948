// vk61-efis-cli-demo: the same tool linked to virtual_hidapi, which finds the
// simulated bridge through VK61_BRIDGE, with the downloads manifest taken
// from the demo's download server on loopback, as the demo window does.
#include <QUrl>

#include "cli_main.h"
#include "downloads/testing_hooks.h"

#ifndef VK61_DEMO_MANIFEST_URL
#define VK61_DEMO_MANIFEST_URL "http://127.0.0.1:47080/firmware/downloads_manifest.json"
#endif

int main(int argc, char* argv[]) {
    // A URL in the environment wins, so the end-to-end tests can run their own server.
    const QByteArray url = qgetenv("VK61_DEMO_MANIFEST_URL");
    vk61::set_manifest_url_override_for_testing(
        QUrl(url.isEmpty() ? QStringLiteral(VK61_DEMO_MANIFEST_URL) : QString::fromUtf8(url)));
    return vk61::cli::cli_main(argc, argv, "vk61-efis-cli-demo", "vk61-efis-config-demo");
}
