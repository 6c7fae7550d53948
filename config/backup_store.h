// The automatic backups of the EFIS configuration: one folder per EFIS
// (named by its serial) under a root folder, the newest 20 files kept, a
// backup identical to the newest one not written again. Files are written
// atomically, so a crash or a full disk never leaves half a backup behind.
#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

#include "config_file.h"

namespace vk61 {

class BackupStore {
public:
    static constexpr int kKeep = 20;

    // root holds one folder per EFIS.
    explicit BackupStore(QString root);
    // <application data folder>/backups.
    static QString default_root();

    struct Entry {
        QString path;
        QDateTime created;
        QString reason;  // "" when the file cannot be read
    };
    // The backups of the EFIS with serial, newest first.
    std::vector<Entry> list(const QString& serial) const;

    enum class Outcome { Written, SkippedIdentical, Failed };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString path;   // the file written, or the newest one that made it unnecessary
        QString error;  // Failed: why, naming the folder or the file

        // A backup of these settings is on disk.
        bool ok() const { return outcome != Outcome::Failed; }
    };
    // Writes file into the folder of file.efis.serial, named by file.created,
    // then removes all but the newest kKeep.
    Result save(const ConfigFile& file) const;

    QString folder(const QString& serial) const;

private:
    QString root_;
};

// "The configuration backup could not be written (cannot create the folder
// ...)", or where the backup is: "Configuration backup written to <path>",
// "Configuration backup not written: <path> holds the same settings".
QString describe(const BackupStore::Result& result);

}  // namespace vk61
