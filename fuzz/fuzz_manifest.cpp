// Fuzz target: both manifest parsers on the same untrusted document, and the
// selection rules on whatever they accepted.
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

#include "downloads/manifest_parser.h"
#include "downloads/package_selection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    QList<vk61::FirmwarePackage> firmware;
    QString error;
    vk61::parse_firmware_manifest(bytes, &firmware, &error);
    for (const vk61::FirmwarePackage& package : firmware) {
        (void)vk61::find_firmware_by_file_name(firmware, package.firmware_file);
        (void)vk61::is_firmware_older(0x01020300u, package);
    }
    (void)vk61::find_firmware_for_device(firmware, 0xC3070001u);

    QList<vk61::DatabasePackage> databases;
    vk61::parse_database_manifest(bytes, &databases, &error);
    (void)vk61::find_latest_database(databases, QStringLiteral("airport"));

    quint8 major = 0, minor = 0, patch = 0;
    vk61::parse_version_triplet(QString::fromUtf8(bytes), &major, &minor, &patch);
    return 0;
}
