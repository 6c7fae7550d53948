// vk61-efis-cli-demo: the same tool linked to virtual_hidapi, which finds the
// simulated bridge through VK61_BRIDGE, with the downloads manifest taken
// from the demo's download server on loopback, or from the URL in
// VK61_DEMO_MANIFEST_URL, as the demo window does. Only the demo builds read
// that variable; the product's manifest URL is fixed at build time.
#include <QUrl>

#include "cli_main.h"
#include "demo_server_defaults.h"

int main(int argc, char* argv[]) {
    vk61::DownloadSettings downloads;
    const QString url = qEnvironmentVariable("VK61_DEMO_MANIFEST_URL");
    downloads.manifest_url = url.isEmpty() ? vk61::demo_manifest_url() : QUrl(url, QUrl::StrictMode);
    return vk61::cli::cli_main(argc, argv, "vk61-efis-cli-demo", "vk61-efis-config-demo", downloads);
}
