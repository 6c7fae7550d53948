#include "downloads/manifest_source.h"

#include "downloads/download_limits.h"
#include "downloads/manifest_parser.h"
#include "downloads/manifest_service.h"
#include "downloads/wait_for_outcome.h"

#include <QDebug>
#include <QFile>

namespace vk61 {

FetchResult read_manifest_file(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        DownloadResult result = DownloadResult::failed(DownloadFailure::ManifestUnreadable);
        result.file = path;
        return result;
    }
    // Read no further than a manifest can be (one byte more shows it is not one).
    QByteArray bytes = file.read(kMaxManifestBytes + 1);
    if (bytes.size() > kMaxManifestBytes) {
        DownloadResult result = DownloadResult::failed(DownloadFailure::ManifestTooLarge);
        result.limit = kMaxManifestBytes;
        result.file = path;
        return result;
    }
    return FetchResult::success(std::move(bytes));
}

FetchResult load_manifest_bytes(ManifestService& service, int timeout_ms) {
    return detail::wait_for_outcome<FetchResult>(
        [&](QObject* context, auto done) { service.load(context, std::move(done), timeout_ms); });
}

FetchResult fetch_manifest_online(ManifestService& service) {
    return detail::wait_for_outcome<FetchResult>(
        [&](QObject* context, auto done) { service.fetch_online(context, std::move(done)); });
}

DownloadResult prefetch_manifest(ManifestService& service) { return load_manifest_bytes(service); }

DownloadResult load_firmware_packages(ManifestService& service, QList<FirmwarePackage>* entries_out, int timeout_ms) {
    const FetchResult loaded = load_manifest_bytes(service, timeout_ms);
    if (!loaded.ok()) {
        qDebug().noquote() << "Firmware manifest unavailable:" << describe(loaded);
        return loaded;
    }
    return parse_firmware_manifest(loaded.body, entries_out);
}

}  // namespace vk61
