// The downloads manifest of one window (or tool): the copy in memory, the
// firmware packages it lists, and obtaining it - from the server first, else
// from the copy in memory, the cache file of an earlier run or a copy beside
// the application. Nothing here blocks: every network wait ends in a callback
// or a signal from the event loop.
//
// GUI thread only (the thread it lives on).
#pragma once

#include "downloads/download_settings.h"
#include "downloads/firmware_package.h"
#include "downloads/http_fetch.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

namespace vk61 {

class ManifestService : public QObject {
    Q_OBJECT

public:
    explicit ManifestService(DownloadSettings settings = {}, QObject* parent = nullptr);

    const DownloadSettings& settings() const { return settings_; }

    // The last manifest bytes obtained by this service (empty at start).
    const QByteArray& memory_copy() const { return memory_; }
    // Forgets the memory copy, as a new run would start.
    void forget_memory_copy() { memory_.clear(); }

    // The firmware packages of the last manifest obtained, in manifest order
    // (empty until one is). A manifest with a bad entry keeps the entries
    // before it.
    const QList<FirmwarePackage>& firmware_packages() const { return packages_; }

    // Network first (a success that passes check_manifest() replaces the
    // memory copy and the cache file; see fetch_online());
    // otherwise the memory copy, then manifest_cache_path(), then
    // find_local_manifest(), the first non-empty one that passes
    // check_manifest() winning. Disk copies refresh only the memory copy.
    // When nothing is found the error is the network's message. `done` runs
    // once, later, unless context is deleted first. timeout_ms < 0 is the
    // settings' fetch limit; a shorter one suits lookups that are optional.
    void load(QObject* context, std::function<void(FetchResult)> done, int timeout_ms = -1);

    // Network only; a success is kept like load()'s. A successful fetch of an
    // empty body fails as EmptyManifest (no message of its own), and one that
    // is not is_manifest_document() fails as ManifestRefused with the reason. Only a manifest that
    // passes check_manifest() is kept (memory copy and cache file), so a bad
    // answer never replaces a good copy; one with a bad entry still reaches
    // the caller, whose parser names that entry.
    void fetch_online(QObject* context, std::function<void(FetchResult)> done);

    // For readers of firmware_packages(): while the list is empty, starts a
    // load() unless one is running or one started less than
    // settings().manifest_retry_interval_ms ago. A request that comes too
    // early is answered by one attempt at the end of the interval.
    void request_packages();

signals:
    // firmware_packages() has changed.
    void firmware_packages_changed();

private:
    void start_online(int timeout_ms, std::function<void(FetchResult)> done);
    bool take_offline_copy(QByteArray* bytes_out);
    void keep(const QByteArray& bytes, bool from_network);
    void take_packages(const QByteArray& bytes);
    void on_lookup_done();

    DownloadSettings settings_;
    QByteArray memory_;
    QList<FirmwarePackage> packages_;
    QElapsedTimer last_attempt_;  // invalid: no online attempt yet
    QTimer retry_timer_;
    bool lookup_running_ = false;
    bool lookup_wanted_ = false;  // a request came while a lookup ran
};

}  // namespace vk61
