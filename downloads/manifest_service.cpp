#include "downloads/manifest_service.h"

#include "downloads/download_locations.h"
#include "downloads/manifest_parser.h"
#include "downloads/manifest_source.h"

#include <QDebug>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>

namespace vk61 {

ManifestService::ManifestService(DownloadSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    retry_timer_.setSingleShot(true);
    connect(&retry_timer_, &QTimer::timeout, this, &ManifestService::request_packages);
}

void ManifestService::start_online(std::function<void(FetchOutcome)> done) {
    last_attempt_.start();
    // The fetch belongs to this service, not to the caller: what arrives is
    // kept even when the caller has gone.
    start_fetch(settings_.manifest_url, settings_.fetch_timeout_ms, this,
                [this, done = std::move(done)](FetchOutcome fetched) {
                    if (fetched.ok && fetched.body.isEmpty())
                        fetched.ok = false;  // an empty manifest is no manifest; no message of its own
                    if (fetched.ok)
                        keep(fetched.body, true);
                    done(std::move(fetched));
                });
}

void ManifestService::load(QObject* context, std::function<void(FetchOutcome)> done) {
    start_online([this, caller = QPointer<QObject>(context), done = std::move(done)](FetchOutcome fetched) {
        if (!fetched.ok) {
            qDebug().noquote() << "Online downloads manifest unavailable:" << fetched.error;
            QByteArray bytes;
            if (take_offline_copy(&bytes))
                fetched = {true, std::move(bytes), {}};
        }
        if (caller)
            done(std::move(fetched));
    });
}

void ManifestService::fetch_online(QObject* context, std::function<void(FetchOutcome)> done) {
    start_online([caller = QPointer<QObject>(context), done = std::move(done)](FetchOutcome fetched) {
        if (caller)
            done(std::move(fetched));
    });
}

bool ManifestService::take_offline_copy(QByteArray* bytes_out) {
    if (!memory_.isEmpty()) {
        *bytes_out = memory_;
        return true;
    }
    for (const QString& path : {manifest_cache_path(), find_local_manifest(settings_)}) {
        QByteArray bytes;
        if (path.isEmpty() || !QFileInfo::exists(path) || !read_manifest_file(path, &bytes, nullptr) ||
            bytes.isEmpty())
            continue;
        keep(bytes, false);
        *bytes_out = std::move(bytes);
        return true;
    }
    return false;
}

void ManifestService::keep(const QByteArray& bytes, bool from_network) {
    memory_ = bytes;
    if (from_network) {
        // Replaced whole or not at all: a half-written cache would be the
        // only manifest of an offline run. Failures are ignored; the memory
        // copy holds.
        QSaveFile file(manifest_cache_path());
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            file.commit();
    }
    QList<FirmwarePackage> packages;
    parse_firmware_manifest(bytes, &packages, nullptr);  // a bad entry keeps those before it
    const bool changed = packages != packages_;
    packages_ = std::move(packages);
    if (changed)
        emit firmware_packages_changed();
}

void ManifestService::request_packages() {
    if (!packages_.isEmpty())
        return;
    if (lookup_running_) {
        lookup_wanted_ = true;
        return;
    }
    if (last_attempt_.isValid()) {
        const qint64 remaining = settings_.manifest_retry_interval_ms - last_attempt_.elapsed();
        if (remaining > 0) {
            if (!retry_timer_.isActive())
                retry_timer_.start(static_cast<int>(remaining));
            return;
        }
    }
    lookup_running_ = true;
    lookup_wanted_ = false;
    load(this, [this](const FetchOutcome&) { on_lookup_done(); });
}

void ManifestService::on_lookup_done() {
    lookup_running_ = false;
    // Readers that asked meanwhile still have no list: one more attempt,
    // no sooner than the interval allows.
    if (lookup_wanted_ && packages_.isEmpty())
        request_packages();
}

}  // namespace vk61
