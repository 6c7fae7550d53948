// Obtaining the downloads manifest: from the server first, else from the copy
// in memory, the cache file of an earlier run or a copy beside the application.
// GUI thread only: manifest_memory_cache() is unguarded by design.
#pragma once

#include "downloads/firmware_package.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace vk61 {

// The last manifest bytes obtained in this process (empty at start).
const QByteArray& manifest_memory_cache();

// The whole file, possibly empty.
bool read_manifest_file(const QString& path, QByteArray* bytes_out, QString* error = nullptr);

// Sets the memory copy; non-empty bytes also replace manifest_cache_path()
// (atomically; write failures are ignored).
void store_manifest_cache(const QByteArray& bytes);

// Network first (stores what it gets); otherwise the memory copy, then
// manifest_cache_path(), then find_local_manifest(), the first non-empty one
// winning. Disk copies refresh only the memory copy. When nothing is found
// the error is the network's message.
// Blocks for at most one fetch_url() plus two small file reads.
bool load_manifest_bytes(QByteArray* bytes_out, QString* error = nullptr);

// Network only. A successful fetch of an empty body fails with an empty
// message. bytes_out may be null. Blocks for at most one fetch_url().
bool fetch_manifest_online(QByteArray* bytes_out, QString* error = nullptr);

// load_manifest_bytes() for its side effect: after a network success both the
// memory copy and manifest_cache_path() hold the manifest.
bool prefetch_manifest(QString* error = nullptr);

// load_manifest_bytes(), then parse_firmware_manifest(). On a load failure
// *entries_out is left untouched.
bool load_firmware_packages(QList<FirmwarePackage>* entries_out, QString* error = nullptr);

}  // namespace vk61
