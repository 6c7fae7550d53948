#include "downloads/manifest_service.h"

#include "downloads/download_limits.h"
#include "downloads/download_locations.h"
#include "downloads/manifest_parser.h"
#include "downloads/manifest_source.h"
#include "files/checked_file_writer.h"

#include <QDebug>
#include <QFileInfo>
#include <QPointer>

namespace vk61 {

ManifestService::ManifestService(DownloadSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    retry_timer_.setSingleShot(true);
    connect(&retry_timer_, &QTimer::timeout, this, &ManifestService::request_packages);
}

void ManifestService::start_online(int timeout_ms, std::function<void(FetchResult)> done) {
    last_attempt_.start();
    const QUrl url = settings_.manifest_url;
    // The fetch belongs to this service, not to the caller: what arrives is
    // kept even when the caller has gone.
    start_fetch(
        url, timeout_ms < 0 ? settings_.fetch_timeout_ms : timeout_ms, kMaxManifestBytes, this,
        [this, url, done = std::move(done)](FetchResult fetched) {
            if (!fetched.ok()) {
                done(std::move(fetched));
                return;
            }
            if (fetched.body.isEmpty()) {
                done(DownloadResult::failed(DownloadFailure::EmptyManifest));  // an empty manifest is no manifest
                return;
            }
            if (const DownloadResult document = is_manifest_document(fetched.body); !document.ok()) {
                // A captive portal's page is no answer: the copies
                // of earlier runs stay, and load() falls back to them.
                DownloadResult refused = DownloadResult::failed(DownloadFailure::ManifestRefused);
                refused.url = url.toString();
                refused.detail = describe(document);
                done(std::move(refused));
                return;
            }
            if (const DownloadResult checked = check_manifest(fetched.body); !checked.ok()) {
                // A manifest with a bad entry goes to the caller, whose
                // parser names the entry, but it replaces neither the
                // memory copy nor the cache: those hold only manifests
                // that passed every check. Its good entries before the
                // bad one still serve as the package list.
                qDebug().noquote() << "Downloads manifest not kept:" << describe(checked);
                take_packages(fetched.body);
                done(std::move(fetched));
                return;
            }
            keep(fetched.body, true);
            done(std::move(fetched));
        });
}

void ManifestService::load(QObject* context, std::function<void(FetchResult)> done, int timeout_ms) {
    start_online(timeout_ms, [this, caller = QPointer<QObject>(context), done = std::move(done)](FetchResult fetched) {
        if (!fetched.ok()) {
            qDebug().noquote() << "Online downloads manifest unavailable:" << describe(fetched);
            QByteArray bytes;
            if (take_offline_copy(&bytes)) fetched = FetchResult::success(std::move(bytes));
        }
        if (caller) done(std::move(fetched));
    });
}

void ManifestService::fetch_online(QObject* context, std::function<void(FetchResult)> done) {
    start_online(-1, [caller = QPointer<QObject>(context), done = std::move(done)](FetchResult fetched) {
        if (caller) done(std::move(fetched));
    });
}

bool ManifestService::take_offline_copy(QByteArray* bytes_out) {
    if (!memory_.isEmpty()) {
        *bytes_out = memory_;
        return true;
    }
    for (const QString& path : {manifest_cache_path(), find_local_manifest(settings_)}) {
        if (path.isEmpty() || !QFileInfo(path).isFile()) continue;
        FetchResult read = read_manifest_file(path);
        // A copy on disk is held to the same checks as one from the server.
        if (!read.ok() || read.body.isEmpty() || !check_manifest(read.body).ok()) continue;
        keep(read.body, false);
        *bytes_out = std::move(read.body);
        return true;
    }
    return false;
}

void ManifestService::keep(const QByteArray& bytes, bool from_network) {
    memory_ = bytes;
    if (from_network) {
        // Replaced whole or not at all: a half-written cache would be the
        // only manifest of an offline run. A failure is logged; the memory
        // copy holds.
        const FileWriteResult written = write_file_atomically(manifest_cache_path(), bytes);
        if (!written.ok()) qDebug().noquote() << "Downloads manifest not cached:" << describe(written);
    }
    take_packages(bytes);
}

void ManifestService::take_packages(const QByteArray& bytes) {
    QList<FirmwarePackage> packages;
    parse_firmware_manifest(bytes, &packages);  // a bad entry keeps those before it
    const bool changed = packages != packages_;
    packages_ = std::move(packages);
    if (changed) emit firmware_packages_changed();
}

void ManifestService::request_packages() {
    if (!packages_.isEmpty()) return;
    if (lookup_running_) {
        lookup_wanted_ = true;
        return;
    }
    if (last_attempt_.isValid()) {
        const qint64 remaining = settings_.manifest_retry_interval_ms - last_attempt_.elapsed();
        if (remaining > 0) {
            if (!retry_timer_.isActive()) retry_timer_.start(static_cast<int>(remaining));
            return;
        }
    }
    lookup_running_ = true;
    lookup_wanted_ = false;
    load(this, [this](const FetchResult&) { on_lookup_done(); });
}

void ManifestService::on_lookup_done() {
    lookup_running_ = false;
    // Readers that asked meanwhile still have no list: one more attempt,
    // no sooner than the interval allows.
    if (lookup_wanted_ && packages_.isEmpty()) request_packages();
}

}  // namespace vk61
