#include "backup_store.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include "files/checked_file_writer.h"

namespace vk61 {

namespace {

const QString kSuffix = QStringLiteral(".json");

// Names sort by time: "20240517T093012.345Z-before-save.json".
QString file_name(const ConfigFile& file, int attempt) {
    QString reason = file.reason.toLower();
    reason.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
    QString name = file.created.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    if (attempt > 0) name += QStringLiteral("_%1").arg(attempt);
    if (!reason.isEmpty()) name += QLatin1Char('-') + reason;
    return name + kSuffix;
}

// Newest first, by name. Only the names file_name() gives count as backups:
// anything else a user keeps in the folder ("00-annual-inspection.json") is
// neither listed nor pruned.
QStringList backup_files(const QDir& dir) {
    static const QRegularExpression kBackupName(
        QStringLiteral("^\\d{8}T\\d{6}\\.\\d{3}Z(_\\d+)?(-[a-z0-9-]*)?\\.json$"));
    QStringList names = dir.entryList({QStringLiteral("*") + kSuffix}, QDir::Files, QDir::Name | QDir::Reversed);
    names.removeIf([](const QString& name) { return !kBackupName.match(name).hasMatch(); });
    return names;
}

std::optional<ConfigFile> read_file(const QString& path) { return load_config_file(path, nullptr); }

}  // namespace

BackupStore::BackupStore(QString root) : root_(std::move(root)) {}

QString BackupStore::default_root() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/backups");
}

QString BackupStore::folder(const QString& serial) const {
    QString name = serial;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) name.prepend(QStringLiteral("unknown"));
    return QDir(root_).filePath(name);
}

std::vector<BackupStore::Entry> BackupStore::list(const QString& serial) const {
    std::vector<Entry> entries;
    const QDir dir(folder(serial));
    for (const QString& name : backup_files(dir)) {
        Entry entry;
        entry.path = dir.filePath(name);
        if (const auto file = read_file(entry.path)) {
            entry.created = file->created;
            entry.reason = file->reason;
        }
        entries.push_back(entry);
    }
    return entries;
}

BackupStore::Result BackupStore::save(const ConfigFile& file) const {
    Result result;
    const QString path = folder(file.efis.serial);
    QDir dir(path);
    if (!dir.mkpath(QStringLiteral("."))) {
        result.error = QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(path));
        return result;
    }

    const QStringList existing = backup_files(dir);
    if (!existing.isEmpty()) {
        const auto newest = read_file(dir.filePath(existing.front()));
        if (newest && same_settings(*newest, file) && newest->efis.memory_version == file.efis.memory_version) {
            result.outcome = Outcome::SkippedIdentical;
            result.path = dir.filePath(existing.front());
            return result;
        }
    }

    int attempt = 0;
    while (dir.exists(file_name(file, attempt))) ++attempt;
    const QString written = dir.filePath(file_name(file, attempt));
    if (const FileWriteResult write = write_file_atomically(written, write_config_file(file)); !write.ok()) {
        result.error = describe(write);
        return result;
    }
    result.outcome = Outcome::Written;
    result.path = written;

    // Oldest beyond the newest kKeep go.
    const QStringList kept = backup_files(dir);
    for (qsizetype i = kKeep; i < kept.size(); ++i) dir.remove(kept[i]);
    return result;
}

QString describe(const BackupStore::Result& result) {
    const QString path = QDir::toNativeSeparators(result.path);
    switch (result.outcome) {
    case BackupStore::Outcome::Written: return QStringLiteral("Configuration backup written to %1").arg(path);
    case BackupStore::Outcome::SkippedIdentical:
        return QStringLiteral("Configuration backup not written: %1 holds the same settings").arg(path);
    case BackupStore::Outcome::Failed: break;
    }
    return QStringLiteral("The configuration backup could not be written (%1)").arg(result.error);
}

}  // namespace vk61
