#include "downloads/manifest_parser.h"

#include "downloads/download_limits.h"
#include "downloads/manifest_file_name.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QDate>

#include <cmath>
#include <limits>

namespace vk61 {
namespace {

// The rule of the manifest that bytes break, in the words of the message.
DownloadResult bad_manifest(QString rule) {
    DownloadResult result = DownloadResult::failed(DownloadFailure::BadManifest);
    result.detail = std::move(rule);
    return result;
}

// Parses the document and hands back its top-level object. A document that is
// well formed but not an object reports the parser's "no error" text, which
// is what the message then carries.
DownloadResult parse_top_object(const QByteArray& bytes, QJsonObject* object) {
    QJsonParseError parse_error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse_error);
    if (parse_error.error != QJsonParseError::NoError || !document.isObject()) {
        DownloadResult result = DownloadResult::failed(DownloadFailure::InvalidJson);
        result.detail = parse_error.errorString();
        return result;
    }
    *object = document.object();
    return DownloadResult::success();
}

// A member that is missing or not a string reads as empty text.
QString text_member(const QJsonObject& object, QLatin1String key) { return object.value(key).toString(); }

// Only an integral JSON number that fits 32 bits is kept; anything else is 0.
qint32 int32_member(const QJsonObject& object, QLatin1String key) {
    const QJsonValue value = object.value(key);
    if (!value.isDouble()) return 0;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<qint32>::max())
        return 0;
    return static_cast<qint32>(number);
}

FirmwarePackage firmware_from_object(const QJsonObject& object) {
    FirmwarePackage package;
    package.device_type = text_member(object, QLatin1String("device_type")).trimmed().toUpper();
    package.display_name = text_member(object, QLatin1String("display_name"));
    package.firmware_file = text_member(object, QLatin1String("firmware_file"));
    package.download_url = text_member(object, QLatin1String("download_url"));
    package.sha256 = text_member(object, QLatin1String("sha256"));
    package.minimum_bootloader_version = text_member(object, QLatin1String("minimum_bootloader_version"));
    // A revision that is not a string (say the number 2) becomes an empty text:
    // the list is then non-empty but never matches a unit.
    const QJsonArray revisions = object.value(QLatin1String("hardware_revisions")).toArray();
    for (const QJsonValue& revision : revisions) package.hardware_revisions.append(revision.toString());
    return package;
}

DatabasePackage database_from_object(const QJsonObject& object) {
    DatabasePackage package;
    package.db_type = text_member(object, QLatin1String("db_type")).trimmed().toLower();
    package.display_name = text_member(object, QLatin1String("display_name"));
    package.format_version = int32_member(object, QLatin1String("format_version"));
    package.cycle_effective_date = text_member(object, QLatin1String("cycle_effective_date"));
    package.database_file = text_member(object, QLatin1String("database_file"));
    package.download_url = text_member(object, QLatin1String("download_url"));
    package.sha256 = text_member(object, QLatin1String("sha256"));
    return package;
}

// The cache holds each package under the last component of its name, beside
// the manifest: one entry's file must never stand in for the manifest or for
// another entry's file. Two entries may share a name only when they share
// the digest (the same bytes). Returns the clash, or success.
template <typename Package>
DownloadResult name_clash(const QString& file, const QString& sha256, const QList<Package>& earlier,
                          QString Package::*file_field) {
    DownloadResult clash;
    clash.file = file;
    const QString name = detail::manifest_file_name(file).toCaseFolded();
    if (name == QLatin1String("downloads_manifest.json")) {
        clash.failure = DownloadFailure::ReservedFileName;
        return clash;
    }
    for (const Package& other : earlier) {
        if (detail::manifest_file_name(other.*file_field).toCaseFolded() == name &&
            other.sha256.trimmed().toLower() != sha256.trimmed().toLower()) {
            clash.failure = DownloadFailure::SharedFileName;
            return clash;
        }
    }
    return DownloadResult::success();
}

bool is_acceptable_database(const DatabasePackage& package) {
    return !package.db_type.isEmpty() && !package.database_file.isEmpty() &&
           package.database_file.endsWith(QLatin1String(".db"), Qt::CaseInsensitive);
}

}  // namespace

DownloadResult parse_firmware_manifest(const QByteArray& bytes, QList<FirmwarePackage>* entries_out) {
    if (!entries_out) return bad_manifest(QStringLiteral("entries_out is null"));
    entries_out->clear();

    QJsonObject top;
    if (DownloadResult parsed = parse_top_object(bytes, &top); !parsed.ok()) return parsed;

    const QJsonArray entries = top.value(QLatin1String("firmware_packages")).toArray();
    if (entries.isEmpty()) {
        return bad_manifest(QStringLiteral("firmware_packages is empty"));
    }

    for (const QJsonValue& entry : entries) {
        if (!entry.isObject()) continue;
        const QJsonObject object = entry.toObject();
        FirmwarePackage package = firmware_from_object(object);
        FirmwareVersion& version = package.firmware_version;
        // The version is tested before the required names, so an entry with
        // both faults reports its version.
        if (!parse_version_triplet(text_member(object, QLatin1String("firmware_version")), &version.major,
                                   &version.minor, &version.patch)) {
            return bad_manifest(QStringLiteral("Invalid firmware_version for device_type %1").arg(package.device_type));
        }
        if (package.device_type.isEmpty() || package.firmware_file.isEmpty()) {
            return bad_manifest(QStringLiteral("Manifest entry missing device_type or firmware_file"));
        }
        // Nothing is taken on trust: a package that cannot be checked is a bad entry.
        if (!is_well_formed_sha256(package.sha256)) {
            return bad_manifest(QStringLiteral("Invalid sha256 for device_type %1").arg(package.device_type));
        }
        if (DownloadResult clash =
                name_clash(package.firmware_file, package.sha256, *entries_out, &FirmwarePackage::firmware_file);
            !clash.ok()) {
            return clash;
        }
        entries_out->append(std::move(package));
    }

    if (entries_out->isEmpty()) {
        return bad_manifest(QStringLiteral("No valid firmware packages in manifest"));
    }
    return DownloadResult::success();
}

DownloadResult parse_database_manifest(const QByteArray& bytes, QList<DatabasePackage>* entries_out) {
    if (!entries_out) return bad_manifest(QStringLiteral("entries_out is null"));
    entries_out->clear();

    QJsonObject top;
    if (DownloadResult parsed = parse_top_object(bytes, &top); !parsed.ok()) return parsed;

    const QJsonArray entries = top.value(QLatin1String("database_files")).toArray();
    if (entries.isEmpty()) {
        return bad_manifest(QStringLiteral("database_files is empty"));
    }

    for (const QJsonValue& entry : entries) {
        if (!entry.isObject()) continue;
        DatabasePackage package = database_from_object(entry.toObject());
        if (!is_acceptable_database(package)) continue;
        // A database that cannot be checked, or whose cycle cannot be
        // ordered, is a bad entry, not one to drop quietly: the newest cycle
        // would then silently be another.
        if (!is_well_formed_sha256(package.sha256)) {
            return bad_manifest(QStringLiteral("Invalid sha256 for database_file %1").arg(package.database_file));
        }
        if (!cycle_date(package).isValid()) {
            return bad_manifest(
                QStringLiteral("Invalid cycle_effective_date for database_file %1").arg(package.database_file));
        }
        if (DownloadResult clash =
                name_clash(package.database_file, package.sha256, *entries_out, &DatabasePackage::database_file);
            !clash.ok()) {
            return clash;
        }
        entries_out->append(std::move(package));
    }

    if (entries_out->isEmpty()) {
        return bad_manifest(QStringLiteral("No valid database packages in manifest"));
    }
    return DownloadResult::success();
}

bool parse_version_triplet(const QString& text, quint8* major, quint8* minor, quint8* patch) {
    if (!major || !minor || !patch) return false;
    const QStringList parts = text.trimmed().split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3) return false;

    quint8 values[3] = {};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok, 10);  // fails on overflow of 32 bits too
        if (!ok || value < 0 || value > 255) return false;
        values[i] = static_cast<quint8>(value);
    }
    *major = values[0];
    *minor = values[1];
    *patch = values[2];
    return true;
}

QDate cycle_date(const DatabasePackage& package) {
    return QDate::fromString(package.cycle_effective_date.trimmed(), QStringLiteral("yyyy-MM-dd"));
}

DownloadResult is_manifest_document(const QByteArray& bytes) {
    if (bytes.size() > kMaxManifestBytes) {
        DownloadResult result = DownloadResult::failed(DownloadFailure::ManifestTooLarge);
        result.limit = kMaxManifestBytes;
        return result;
    }
    QJsonObject top;
    return parse_top_object(bytes, &top);
}

DownloadResult check_manifest(const QByteArray& bytes) {
    if (DownloadResult document = is_manifest_document(bytes); !document.ok()) return document;
    QJsonObject top;
    parse_top_object(bytes, &top);

    // Each list the document carries must parse whole (which also keeps
    // the names within a list apart); the names of the two lists must not
    // clash either.
    bool any = false;
    QList<FirmwarePackage> firmware;
    if (!top.value(QLatin1String("firmware_packages")).toArray().isEmpty()) {
        if (DownloadResult parsed = parse_firmware_manifest(bytes, &firmware); !parsed.ok()) return parsed;
        any = true;
    }
    if (!top.value(QLatin1String("database_files")).toArray().isEmpty()) {
        QList<DatabasePackage> databases;
        if (DownloadResult parsed = parse_database_manifest(bytes, &databases); !parsed.ok()) return parsed;
        for (const DatabasePackage& package : databases) {
            DownloadResult clash =
                name_clash(package.database_file, package.sha256, firmware, &FirmwarePackage::firmware_file);
            if (!clash.ok()) return clash;
        }
        any = true;
    }
    if (!any) return bad_manifest(QStringLiteral("Manifest lists no packages"));
    return DownloadResult::success();
}

}  // namespace vk61
