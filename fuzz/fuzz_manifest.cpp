// Fuzz target: both manifest parsers on the same untrusted document, the
// acceptance check every manifest passes before it is used or cached, and
// the selection rules on whatever they accepted. The first input byte also
// decides whether the document is padded past the size limit, which the
// check must then refuse whatever the document says.
#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "downloads/download_limits.h"
#include "downloads/manifest_parser.h"
#include "downloads/package_selection.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    QList<vk61::FirmwarePackage> firmware;
    const bool firmware_ok = vk61::parse_firmware_manifest(bytes, &firmware).ok();
    for (const vk61::FirmwarePackage& package : firmware) {
        // Whatever a parse keeps can be proven by its digest.
        require(vk61::is_well_formed_sha256(package.sha256));
        (void)vk61::find_firmware_by_file_name(firmware, package.firmware_file);
        (void)vk61::is_firmware_older(0x01020300u, package);
    }
    (void)vk61::find_firmware_for_device(firmware, 0xC3070001u);

    QList<vk61::DatabasePackage> databases;
    const bool databases_ok = vk61::parse_database_manifest(bytes, &databases).ok();
    for (const vk61::DatabasePackage& package : databases) {
        require(vk61::is_well_formed_sha256(package.sha256));
        require(vk61::cycle_date(package).isValid());
    }
    if (const vk61::DatabasePackage* latest = vk61::find_latest_database(databases, QStringLiteral("airport"))) {
        for (const vk61::DatabasePackage& package : databases) {
            require(package.db_type != QLatin1String("airport") ||
                    vk61::cycle_date(package) <= vk61::cycle_date(*latest));
        }
    }

    // An accepted manifest is within the limit, parses whole and keeps its
    // packages' cache files apart from the manifest's own.
    if (const vk61::DownloadResult checked = vk61::check_manifest(bytes); checked.ok()) {
        require(bytes.size() <= vk61::kMaxManifestBytes);
        require(firmware_ok || databases_ok);
        require(!firmware.isEmpty() || !databases.isEmpty());
    } else {
        require(!vk61::describe(checked).isEmpty());
    }
    if (size > 0 && (data[0] & 1) != 0) {
        QByteArray padded = bytes;
        padded.append(
            QByteArray(vk61::kMaxManifestBytes + 1 - qMin<qint64>(bytes.size(), vk61::kMaxManifestBytes), ' '));
        require(!vk61::check_manifest(padded).ok());
    }

    quint8 major = 0, minor = 0, patch = 0;
    vk61::parse_version_triplet(QString::fromUtf8(bytes), &major, &minor, &patch);
    return 0;
}
