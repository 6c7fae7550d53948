#include "downloads/manifest_source.h"

#include "downloads/download_limits.h"
#include "downloads/error_text.h"
#include "downloads/manifest_parser.h"
#include "downloads/manifest_service.h"
#include "downloads/wait_for_outcome.h"

#include <QDebug>
#include <QFile>

namespace vk61 {

using detail::set_error;

bool read_manifest_file(const QString& path, QByteArray* bytes_out, QString* error) {
    if (!bytes_out) {
        set_error(error, QStringLiteral("bytes_out is null"));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        set_error(error, QStringLiteral("Could not open manifest: %1").arg(path));
        return false;
    }
    // Read no further than a manifest can be (one byte more shows it is not one).
    QByteArray bytes = file.read(kMaxManifestBytes + 1);
    if (bytes.size() > kMaxManifestBytes) {
        set_error(error,
                  QStringLiteral("Manifest is larger than the limit of %1 bytes: %2").arg(kMaxManifestBytes).arg(path));
        return false;
    }
    *bytes_out = std::move(bytes);
    return true;
}

bool load_manifest_bytes(ManifestService& service, QByteArray* bytes_out, QString* error, int timeout_ms) {
    if (!bytes_out) {
        set_error(error, QStringLiteral("bytes_out is null"));
        return false;
    }
    FetchOutcome outcome = detail::wait_for_outcome<FetchOutcome>(
        [&](QObject* context, auto done) { service.load(context, std::move(done), timeout_ms); });
    if (!outcome.ok) {
        set_error(error, outcome.error);
        return false;
    }
    *bytes_out = std::move(outcome.body);
    return true;
}

bool fetch_manifest_online(ManifestService& service, QByteArray* bytes_out, QString* error) {
    FetchOutcome outcome = detail::wait_for_outcome<FetchOutcome>(
        [&](QObject* context, auto done) { service.fetch_online(context, std::move(done)); });
    if (!outcome.ok) {
        set_error(error, outcome.error);
        return false;
    }
    if (bytes_out) *bytes_out = std::move(outcome.body);
    return true;
}

bool prefetch_manifest(ManifestService& service, QString* error) {
    QByteArray scratch;
    return load_manifest_bytes(service, &scratch, error);
}

bool load_firmware_packages(ManifestService& service, QList<FirmwarePackage>* entries_out, QString* error,
                            int timeout_ms) {
    QByteArray bytes;
    QString message;
    if (!load_manifest_bytes(service, &bytes, &message, timeout_ms)) {
        qDebug().noquote() << "Firmware manifest unavailable:" << message;
        set_error(error, message);
        return false;
    }
    return parse_firmware_manifest(bytes, entries_out, error);
}

}  // namespace vk61
