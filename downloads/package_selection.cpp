#include "downloads/package_selection.h"

#include "downloads/manifest_file_name.h"
#include "downloads/manifest_parser.h"

#include <tuple>

namespace vk61 {

bool is_firmware_older(quint32 firmware_word, const FirmwarePackage& package) {
    const auto unit =
        std::make_tuple(quint8(firmware_word >> 24), quint8(firmware_word >> 16), quint8(firmware_word >> 8));
    const FirmwareVersion& offered = package.firmware_version;
    return unit < std::make_tuple(offered.major, offered.minor, offered.patch);
}

const FirmwarePackage* find_firmware_for_device(const QList<FirmwarePackage>& packages, quint32 device_id) {
    // Type code as exactly two upper-case hex digits ("0A", never "A"), revision
    // in plain decimal ("7", never "07"): the manifest is matched as text.
    const QString type_text = QStringLiteral("%1").arg((device_id >> 24) & 0xFFu, 2, 16, QLatin1Char('0')).toUpper();
    const QString revision_text = QString::number((device_id >> 16) & 0xFFu);

    const FirmwarePackage* fallback = nullptr;
    for (const FirmwarePackage& package : packages) {
        if (package.device_type != type_text) continue;
        if (package.hardware_revisions.isEmpty() ||
            package.hardware_revisions.contains(revision_text, Qt::CaseSensitive))
            return &package;
        if (!fallback) fallback = &package;
    }
    // A package made for other revisions is still better than none.
    return fallback;
}

const DatabasePackage* find_latest_database(const QList<DatabasePackage>& packages, const QString& db_type) {
    const QString key = db_type.trimmed().toLower();
    const DatabasePackage* latest = nullptr;
    for (const DatabasePackage& package : packages) {
        if (package.db_type != key) continue;
        // Compared as dates: "9999-99-99" is none and sorts before every
        // date. Strictly greater, so the earliest of equal dates stays.
        if (!latest || cycle_date(package) > cycle_date(*latest)) latest = &package;
    }
    return latest;
}

const FirmwarePackage* find_firmware_by_file_name(const QList<FirmwarePackage>& packages, const QString& path) {
    const QString name = detail::manifest_file_name(path);
    if (name.isEmpty()) return nullptr;
    for (const FirmwarePackage& package : packages) {
        if (detail::manifest_file_name(package.firmware_file) == name) return &package;
    }
    return nullptr;
}

}  // namespace vk61
