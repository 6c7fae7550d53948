#include "downloads/file_digest.h"

#include "downloads/error_text.h"
#include "downloads/sha256_stream.h"

#include <QFile>

namespace vk61 {

using detail::set_error;

bool compute_file_sha256(const QString& path, QString* hex_out, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        set_error(error, QStringLiteral("Could not read firmware file: %1").arg(path));
        return false;
    }
    // Streamed: a 54 MiB database is never held in memory for hashing.
    QByteArray digest;
    if (!detail::sha256_of_device(&file, &digest)) {
        set_error(error, QStringLiteral("Failed to hash firmware file: %1").arg(path));
        return false;
    }
    if (hex_out) *hex_out = QString::fromLatin1(digest.toHex());
    return true;
}

QString sha256_mismatch_message(const QString& what, const QString& expected, const QString& actual) {
    return QStringLiteral("%1 SHA-256 does not match the manifest.\nExpected: %2\nActual:   %3")
        .arg(what, expected, actual);
}

bool verify_file_sha256(const QString& path, const QString& expected_sha256, QString* error, const QString& what) {
    const QString expected = expected_sha256.trimmed().toLower();
    if (expected.isEmpty()) return true;  // the manifest gives no digest: accepted unread

    QString actual;
    if (!compute_file_sha256(path, &actual, error)) return false;
    actual = actual.trimmed().toLower();
    if (actual == expected) return true;

    set_error(error, sha256_mismatch_message(what, expected, actual));
    return false;
}

}  // namespace vk61
