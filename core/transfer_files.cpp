#include "core/transfer_files.h"

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include "flash/airport_file.h"

namespace vk61 {

namespace {

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// A check the file did not pass: what kind, and the text for people (it
// names the file).
struct FileRefusal {
    TransferFileProblem problem = TransferFileProblem::None;
    QString error;

    bool ok() const { return problem == TransferFileProblem::None; }
};

// Missing, or not a regular file: nothing is read.
FileRefusal presence(const QString& path, const QString& what) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return {TransferFileProblem::Missing, QStringLiteral("%1 was not found: %2").arg(what, native(path))};
    }
    if (!info.isFile()) {
        return {TransferFileProblem::Missing, QStringLiteral("%1 is not a file: %2").arg(what, native(path))};
    }
    return {};
}

// Compares after trimming and lower-casing the expected digest, as the
// manifest's may be written in upper case.
FileRefusal digest_check(const std::uint8_t* data, std::size_t size, const QString& expected_sha256,
                         const QString& what) {
    const QString expected = expected_sha256.trimmed().toLower();
    if (expected.isEmpty()) return {};
    const QString actual = sha256_hex(data, size);
    if (actual == expected) return {};
    return {TransferFileProblem::DigestMismatch,
            QStringLiteral("%1 SHA-256 does not match the manifest.\nExpected: %2\nActual:   %3")
                .arg(what, expected, actual)};
}

// Copies a refusal into loaded; true when there was one.
template <typename Loaded>
bool refused(const FileRefusal& refusal, Loaded& loaded) {
    if (refusal.ok()) return false;
    loaded.problem = refusal.problem;
    loaded.error = refusal.error;
    return true;
}

}  // namespace

QString sha256_hex(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView view(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    return QString::fromLatin1(QCryptographicHash::hash(view, QCryptographicHash::Sha256).toHex());
}

LoadedFirmware load_firmware_file(const QString& path, const QString& expected_sha256) {
    LoadedFirmware loaded;
    const QString what = QStringLiteral("Firmware file");
    if (refused(presence(path, what), loaded)) return loaded;
    const qint64 size = QFileInfo(path).size();
    if (size > kMaxFirmwareFileBytes) {
        loaded.problem = TransferFileProblem::TooLarge;
        loaded.error = QStringLiteral("%1 is too large for the units: %2 bytes, at most %3")
                           .arg(native(path))
                           .arg(size)
                           .arg(kMaxFirmwareFileBytes);
        return loaded;
    }
    auto image = std::make_shared<FirmwareImage>();
    if (!read_firmware_image(QFile::encodeName(path).toStdString(), image.get())) {
        loaded.problem = TransferFileProblem::Unreadable;
        loaded.error =
            size < static_cast<qint64>(FirmwareHeader::kSize)
                ? QStringLiteral("%1 is shorter than a firmware header (%2 bytes)").arg(native(path)).arg(size)
                : QStringLiteral("Cannot read %1").arg(native(path));
        return loaded;
    }
    if (refused(digest_check(image->file.data(), image->file.size(), expected_sha256, what), loaded)) return loaded;
    loaded.image = std::move(image);
    return loaded;
}

LoadedDatabase load_airport_database(const QString& path, const QString& expected_sha256) {
    LoadedDatabase loaded;
    const QString what = QStringLiteral("Airport database");
    if (refused(presence(path, what), loaded)) return loaded;
    const qint64 size = QFileInfo(path).size();
    if (size == 0) {
        loaded.problem = TransferFileProblem::Empty;
        loaded.error = QStringLiteral("The airport database %1 is empty").arg(native(path));
        return loaded;
    }
    if (size > kMaxAirportDatabaseBytes) {
        loaded.problem = TransferFileProblem::TooLarge;
        loaded.error = QStringLiteral(
                           "The airport database %1 is too large: %2 bytes, the units hold at most %3 "
                           "(%4 blocks of 64 KiB)")
                           .arg(native(path))
                           .arg(size)
                           .arg(kMaxAirportDatabaseBytes)
                           .arg(kMaxAirportDatabaseBlocks);
        return loaded;
    }
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    // Checks the size again on the open file: it may have changed since.
    if (const OperationResult read = read_airport_database(QFile::encodeName(path).constData(), bytes.get()); !read) {
        loaded.problem = read.reason == FailureReason::FileTooLarge     ? TransferFileProblem::TooLarge
                         : read.reason == FailureReason::InvalidRequest ? TransferFileProblem::Empty
                                                                        : TransferFileProblem::Unreadable;
        loaded.error = QStringLiteral("Cannot read the airport database %1").arg(native(path));
        return loaded;
    }
    if (refused(digest_check(bytes->data(), bytes->size(), expected_sha256, what), loaded)) return loaded;
    loaded.bytes = std::move(bytes);
    return loaded;
}

QString describe(const LoadedFirmware& loaded) {
    if (!loaded.ok()) return loaded.error;
    return QStringLiteral("Firmware file read (%1 bytes)").arg(loaded.image->file.size());
}

QString describe(const LoadedDatabase& loaded) {
    if (!loaded.ok()) return loaded.error;
    return QStringLiteral("Airport database read (%1 bytes)").arg(loaded.bytes->size());
}

}  // namespace vk61
