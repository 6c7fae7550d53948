#include "core/airport_resume.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <optional>

#include "core/device_text.h"
#include "files/checked_file_writer.h"
#include "flash/flash_types.h"
#include "flash/transfer_limits.h"
#include "protocol.h"

namespace vk61 {

namespace {

constexpr qint64 kMaxRecordBytes = 256 * 1024;  // 16 units of 832 blocks fit many times over
const QString kFormat = QStringLiteral("vk61-airport-upload");
constexpr int kVersion = 1;
constexpr unsigned kHighestUid = protocol::kHighestUid;

// Block runs as [first, last] pairs: a whole database is one pair.
QJsonArray block_runs(const std::vector<std::uint16_t>& blocks) {
    QJsonArray runs;
    for (std::size_t i = 0; i < blocks.size();) {
        std::size_t j = i;
        while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1) ++j;
        runs.append(QJsonArray{blocks[i], blocks[j]});
        i = j + 1;
    }
    return runs;
}

std::optional<std::vector<std::uint16_t>> blocks_of(const QJsonValue& value, std::uint32_t block_count) {
    if (!value.isArray()) return std::nullopt;
    std::vector<std::uint16_t> blocks;
    for (const QJsonValue& run : value.toArray()) {
        const QJsonArray pair = run.toArray();
        if (pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble()) return std::nullopt;
        const double first = pair[0].toDouble();
        const double last = pair[1].toDouble();
        if (first != static_cast<int>(first) || last != static_cast<int>(last) || first < 0 || last < first ||
            last >= block_count) {
            return std::nullopt;
        }
        for (int block = static_cast<int>(first); block <= static_cast<int>(last); ++block) {
            blocks.push_back(static_cast<std::uint16_t>(block));
        }
    }
    std::sort(blocks.begin(), blocks.end());
    if (std::adjacent_find(blocks.begin(), blocks.end()) != blocks.end()) return std::nullopt;
    return blocks;
}

struct StoredUnit {
    std::uint8_t uid = 0;
    QString serial;
    AirportUnitProgress progress;
};

struct StoredRecord {
    QString sha256;
    std::uint64_t size = 0;
    std::vector<StoredUnit> units;
};

// Everything in the record is checked: a record that does not parse or names
// impossible progress is not resumed from.
std::optional<StoredRecord> parse_record(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value("format").toString() != kFormat || root.value("version").toInt(-1) != kVersion) return std::nullopt;
    StoredRecord record;
    record.sha256 = root.value("sha256").toString();
    static const QRegularExpression kDigest(QStringLiteral("^[0-9a-f]{64}$"));
    if (!kDigest.match(record.sha256).hasMatch()) return std::nullopt;
    const double size = root.value("size").toDouble(-1);
    if (size < 1 || size > static_cast<double>(kMaxAirportDatabaseBytes) ||
        size != static_cast<double>(static_cast<std::uint64_t>(size))) {
        return std::nullopt;
    }
    record.size = static_cast<std::uint64_t>(size);
    const auto block_count = static_cast<std::uint32_t>((record.size + kFlashBlockSize - 1) / kFlashBlockSize);
    const QJsonArray units = root.value("units").toArray();
    if (units.isEmpty() || units.size() > static_cast<int>(kHighestUid)) return std::nullopt;
    for (const QJsonValue& value : units) {
        const QJsonObject unit = value.toObject();
        const int uid = unit.value("uid").toInt(0);
        const double written = unit.value("written").toDouble(-1);
        const std::optional<std::vector<std::uint16_t>> erased = blocks_of(unit.value("erased"), block_count);
        if (uid < 1 || uid > static_cast<int>(kHighestUid) || !unit.value("serial").isString() || !erased ||
            written < 0 || written > static_cast<double>(record.size) || !unit.value("done").isBool()) {
            return std::nullopt;
        }
        StoredUnit stored;
        stored.uid = static_cast<std::uint8_t>(uid);
        stored.serial = unit.value("serial").toString();
        stored.progress = {stored.uid, *erased, static_cast<std::uint32_t>(written), unit.value("done").toBool()};
        // Bytes confirmed written lie in blocks confirmed erased.
        const auto blocks_written =
            static_cast<std::uint32_t>((stored.progress.written + kFlashBlockSize - 1) / kFlashBlockSize);
        for (std::uint32_t block = 0; block < blocks_written; ++block) {
            if (!std::binary_search(erased->begin(), erased->end(), static_cast<std::uint16_t>(block))) {
                return std::nullopt;
            }
        }
        if (stored.progress.done && stored.progress.written != record.size) return std::nullopt;
        const bool repeated = std::any_of(record.units.begin(), record.units.end(),
                                          [&](const StoredUnit& u) { return u.uid == stored.uid; });
        if (repeated) return std::nullopt;
        record.units.push_back(std::move(stored));
    }
    return record;
}

bool same_units(const StoredRecord& record, const std::vector<DeviceInfo>& units) {
    if (record.units.size() != units.size()) return false;
    return std::all_of(units.begin(), units.end(), [&](const DeviceInfo& unit) {
        return std::any_of(record.units.begin(), record.units.end(), [&](const StoredUnit& stored) {
            return stored.uid == unit.uid && stored.serial == serialText(unit.device_id);
        });
    });
}

}  // namespace

QString airport_record_path() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/airport-upload.json");
}

ResumeOffer check_airport_resume(const QString& path, const QString& sha256, std::uint64_t size,
                                 const std::vector<DeviceInfo>& units) {
    ResumeOffer offer;
    QFile file(path);
    if (!file.exists()) return offer;
    const auto unreadable = [&] {
        offer.verdict = ResumeVerdict::Unreadable;
        offer.text = QStringLiteral(
                         "The record of an interrupted airport database upload (%1) could not be read; "
                         "this upload starts afresh")
                         .arg(QDir::toNativeSeparators(path));
        return offer;
    };
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return unreadable();
    const QByteArray bytes = file.read(kMaxRecordBytes + 1);
    if (bytes.size() > kMaxRecordBytes) return unreadable();
    const std::optional<StoredRecord> record = parse_record(bytes);
    if (!record) return unreadable();
    if (record->sha256 != sha256.toLower() || record->size != size) {
        offer.verdict = ResumeVerdict::OtherFile;
        offer.text = QStringLiteral(
            "The interrupted airport database upload was of another file; this upload "
            "starts afresh");
        return offer;
    }
    if (!same_units(*record, units)) {
        offer.verdict = ResumeVerdict::OtherUnits;
        offer.text = QStringLiteral(
            "The interrupted airport database upload was to other units; this upload "
            "starts afresh");
        return offer;
    }
    offer.verdict = ResumeVerdict::Resumable;
    std::uint64_t confirmed = 0;
    for (const DeviceInfo& unit : units) {
        const auto stored = std::find_if(record->units.begin(), record->units.end(),
                                         [&](const StoredUnit& s) { return s.uid == unit.uid; });
        offer.progress.push_back(stored->progress);
        confirmed += stored->progress.written;
    }
    offer.text = QStringLiteral(
                     "An interrupted upload of this airport database to these %1 unit(s) can be resumed "
                     "(%2% written)")
                     .arg(units.size())
                     .arg(static_cast<int>(confirmed * 100 / (size * units.size())));
    return offer;
}

QString describe(const AirportRecordResult& result) {
    return result.ok() ? QStringLiteral("Upload record written") : result.detail;
}

AirportRecordResult save_airport_record(const QString& path, const AirportUploadRecord& record) {
    QJsonArray units;
    for (std::size_t i = 0; i < record.units.size() && i < record.progress.size(); ++i) {
        const AirportUnitProgress& progress = record.progress[i];
        units.append(QJsonObject{{"uid", record.units[i].uid},
                                 {"serial", serialText(record.units[i].device_id)},
                                 {"erased", block_runs(progress.erased)},
                                 {"written", static_cast<double>(progress.written)},
                                 {"done", progress.done}});
    }
    const QJsonObject root{{"format", kFormat},
                           {"version", kVersion},
                           {"sha256", record.sha256.toLower()},
                           {"size", static_cast<double>(record.size)},
                           {"units", units}};
    QDir().mkpath(QFileInfo(path).absolutePath());
    const FileWriteResult written = write_file_atomically(path, QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (written.ok()) return {};
    return {RecordWriteStatus::WriteFailed, describe(written)};
}

void remove_airport_record(const QString& path) { QFile::remove(path); }

}  // namespace vk61
