#include "downloads/manifest_source.h"

#include "downloads/download_locations.h"
#include "downloads/error_text.h"
#include "downloads/http_fetch.h"
#include "downloads/manifest_parser.h"
#include "downloads/runtime_settings.h"
#include "downloads/testing_hooks.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace vk61 {
namespace {

using detail::set_error;

// Process-wide, GUI thread only; lives until the process ends.
QByteArray& memory_cache() {
    static QByteArray bytes;
    return bytes;
}

// One network attempt; true only for a non-empty body. The message stays
// empty when the server answered with an empty body.
bool fetch_manifest_body(QByteArray* body, QString* message) {
    return fetch_url(detail::effective_manifest_url(), body, message) && !body->isEmpty();
}

// A disk copy that yields non-empty bytes becomes the memory copy.
bool take_disk_copy(const QString& path, QByteArray* bytes_out) {
    QByteArray bytes;
    if (!read_manifest_file(path, &bytes, nullptr) || bytes.isEmpty())
        return false;
    memory_cache() = bytes;
    *bytes_out = std::move(bytes);
    return true;
}

}  // namespace

const QByteArray& manifest_memory_cache() { return memory_cache(); }

void clear_manifest_memory_cache_for_testing() { memory_cache().clear(); }

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
    *bytes_out = file.readAll();
    return true;
}

void store_manifest_cache(const QByteArray& bytes) {
    memory_cache() = bytes;
    if (bytes.isEmpty())
        return;
    // Replaced whole or not at all: a half-written cache would be the only
    // manifest of an offline run. Failures are ignored; the memory copy holds.
    QSaveFile file(manifest_cache_path());
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        file.commit();
}

bool load_manifest_bytes(QByteArray* bytes_out, QString* error) {
    if (!bytes_out) {
        set_error(error, QStringLiteral("bytes_out is null"));
        return false;
    }

    QByteArray body;
    QString fetch_message;
    if (fetch_manifest_body(&body, &fetch_message)) {
        store_manifest_cache(body);
        *bytes_out = std::move(body);
        return true;
    }
    qDebug().noquote() << "Online downloads manifest unavailable:" << fetch_message;

    if (!memory_cache().isEmpty()) {
        *bytes_out = memory_cache();
        return true;
    }
    const QString cache_path = manifest_cache_path();
    if (QFileInfo::exists(cache_path) && take_disk_copy(cache_path, bytes_out))
        return true;
    const QString local_path = find_local_manifest();
    if (!local_path.isEmpty() && take_disk_copy(local_path, bytes_out))
        return true;

    set_error(error, fetch_message);
    return false;
}

bool fetch_manifest_online(QByteArray* bytes_out, QString* error) {
    QByteArray body;
    QString fetch_message;
    if (!fetch_manifest_body(&body, &fetch_message)) {
        set_error(error, fetch_message);
        return false;
    }
    store_manifest_cache(body);
    if (bytes_out)
        *bytes_out = std::move(body);
    return true;
}

bool prefetch_manifest(QString* error) {
    QByteArray scratch;
    return load_manifest_bytes(&scratch, error);
}

bool load_firmware_packages(QList<FirmwarePackage>* entries_out, QString* error) {
    QByteArray bytes;
    QString message;
    if (!load_manifest_bytes(&bytes, &message)) {
        qDebug().noquote() << "Firmware manifest unavailable:" << message;
        set_error(error, message);
        return false;
    }
    return parse_firmware_manifest(bytes, entries_out, error);
}

}  // namespace vk61
