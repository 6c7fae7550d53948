// The automatic backups on disk: one folder per EFIS, newest first, the
// newest 20 kept, an identical backup not written twice, and a folder that
// cannot be written reported rather than thrown at.
#include "config/backup_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using vk61::BackupStore;

vk61::ConfigFile backup(const QString& serial, int minute, std::uint32_t v_ne, const QString& reason = "before Save") {
    vk61::ConfigFile file;
    file.created = QDateTime(QDate(2024, 5, 17), QTime(9, minute, 0), Qt::UTC);
    file.reason = reason;
    file.efis = {serial, "1.4.2", 3u};
    vk61::config_set_value(file.settings, 6, v_ne);
    file.present.set();
    return file;
}

std::uint32_t vneOf(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) return 0xFFFFFFFFu;
    const auto file = vk61::read_config_file(in.readAll(), nullptr);
    return file ? vk61::config_get_value(file->settings, 6) : 0xFFFFFFFFu;
}

TEST(BackupStore, keepsTheNewestTwentyPerEfisNewestFirst) {
    QTemporaryDir root;
    const BackupStore store(root.path());
    // Files the user keeps beside the backups are neither listed nor pruned,
    // even when their names sort below every backup's.
    const QStringList users = {"00-annual-inspection.json", "20000101T000000.000Z-copy.json.json", "notes.json"};
    ASSERT_TRUE(QDir().mkpath(store.folder("0xC3010000")));
    for (const QString& name : users) {
        QFile user(QDir(store.folder("0xC3010000")).filePath(name));
        ASSERT_TRUE(user.open(QIODevice::WriteOnly));
        user.write("{}");
    }
    for (int i = 0; i < 25; ++i) {
        const auto result = store.save(backup("0xC3010000", i, 100 + i));
        ASSERT_EQ(result.outcome, BackupStore::Outcome::Written) << result.error.toStdString();
        ASSERT_TRUE(QFile::exists(result.path));
    }
    ASSERT_EQ(store.save(backup("0xC3020000", 0, 7, "before firmware update")).outcome, BackupStore::Outcome::Written);

    const auto kept = store.list("0xC3010000");
    ASSERT_EQ(kept.size(), 20u);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        // Newest (minute 24, Vne 124) first, down to minute 5.
        EXPECT_EQ(vneOf(kept[i].path), 124u - i) << i;
        EXPECT_EQ(kept[i].created.time().minute(), 24 - static_cast<int>(i));
        EXPECT_EQ(kept[i].reason, QString("before Save"));
    }
    const QStringList left = QDir(store.folder("0xC3010000")).entryList(QDir::Files);
    EXPECT_EQ(left.size(), 20 + users.size());
    for (const QString& name : users) EXPECT_TRUE(left.contains(name)) << name.toStdString();

    const auto other = store.list("0xC3020000");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].reason, QString("before firmware update"));
    EXPECT_TRUE(store.list("0xC3030000").empty());
}

TEST(BackupStore, skipsABackupIdenticalToTheNewest) {
    QTemporaryDir root;
    const BackupStore store(root.path());
    const auto first = store.save(backup("0xC3010000", 1, 200));
    ASSERT_EQ(first.outcome, BackupStore::Outcome::Written);

    const auto same = store.save(backup("0xC3010000", 2, 200, "before firmware update"));
    EXPECT_EQ(same.outcome, BackupStore::Outcome::SkippedIdentical);
    EXPECT_EQ(same.path, first.path);

    // Identical to an older one but not to the newest: written.
    ASSERT_EQ(store.save(backup("0xC3010000", 3, 201)).outcome, BackupStore::Outcome::Written);
    EXPECT_EQ(store.save(backup("0xC3010000", 4, 200)).outcome, BackupStore::Outcome::Written);
    EXPECT_EQ(store.list("0xC3010000").size(), 3u);
}

TEST(BackupStore, twoBackupsInTheSameMillisecondBothKept) {
    QTemporaryDir root;
    const BackupStore store(root.path());
    ASSERT_EQ(store.save(backup("0xC3010000", 1, 10)).outcome, BackupStore::Outcome::Written);
    ASSERT_EQ(store.save(backup("0xC3010000", 1, 11)).outcome, BackupStore::Outcome::Written);
    const auto kept = store.list("0xC3010000");
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(vneOf(kept[0].path), 11u);
}

TEST(BackupStore, unwritableFolderIsReportedAndWritesNothing) {
    QTemporaryDir root;
    // A file where the folder would go: no permission trick, so it holds for
    // root too.
    QFile blocker(root.filePath("backups"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const BackupStore store(root.filePath("backups"));
    const auto result = store.save(backup("0xC3010000", 1, 10));
    EXPECT_EQ(result.outcome, BackupStore::Outcome::Failed);
    EXPECT_TRUE(result.error.contains("backups")) << result.error.toStdString();
    EXPECT_TRUE(store.list("0xC3010000").empty());
}

TEST(BackupStore, serialsNeverLeaveTheRoot) {
    QTemporaryDir root;
    const BackupStore store(root.path());
    for (const QString serial : {"../evil", "", "a/b", ".."}) {
        const QString folder = QDir::cleanPath(store.folder(serial));
        EXPECT_TRUE(folder.startsWith(QDir::cleanPath(root.path()) + "/")) << folder.toStdString();
        EXPECT_NE(folder, QDir::cleanPath(root.path()));
    }
}

}  // namespace
