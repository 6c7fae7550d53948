#include "checked_file_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace vk61 {

namespace {

FileWriteResult failure(FileWriteFailure kind, const QString& path, const QString& detail = {}) {
    return {kind, path, detail};
}

// What a missing target is created with: readable by everyone, like the
// files an editor saves.
constexpr QFileDevice::Permissions kNewFilePermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                         QFileDevice::ReadUser | QFileDevice::WriteUser |
                                                         QFileDevice::ReadGroup | QFileDevice::ReadOther;

}  // namespace

FileWriteResult write_file_atomically(const QString& path, const QByteArray& bytes) {
    if (path.isEmpty()) return failure(FileWriteFailure::NoFileName, path);
    QFileInfo info(path);
    // A link to a file is written through: the file it names is replaced,
    // the link stays.
    if (info.isSymLink() && info.exists()) info = QFileInfo(info.canonicalFilePath());
    const QString target = info.absoluteFilePath();

    std::error_code error;
    const bool exists = std::filesystem::exists(std::filesystem::status(info.filesystemFilePath(), error));
    if (FileWriteResult refusal = check_replaceable(path); !refusal.ok()) return refusal;

    QTemporaryFile temporary(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        return failure(FileWriteFailure::CannotCreate, path,
                       QStringLiteral("cannot create a file in %1 (%2)")
                           .arg(QDir::toNativeSeparators(info.absolutePath()), temporary.errorString()));

    const qint64 written = temporary.write(bytes);
    const bool flushed = temporary.flush();
    // The size the file system holds, not the count the write call claimed.
    const qint64 held = QFileInfo(temporary.fileName()).size();
    if (written != bytes.size() || !flushed || held != bytes.size()) {
        return failure(FileWriteFailure::ShortWrite, path,
                       QStringLiteral("only %1 of %2 bytes were written (%3)")
                           .arg(held)
                           .arg(bytes.size())
                           .arg(temporary.errorString()));
    }
#ifdef Q_OS_UNIX
    if (::fsync(temporary.handle()) != 0)
        return failure(FileWriteFailure::NotOnDisk, path,
                       QStringLiteral("the data could not be flushed to the disk (%1)")
                           .arg(QString::fromLocal8Bit(std::strerror(errno))));
#endif
    temporary.setPermissions(exists ? QFile::permissions(target) : kNewFilePermissions);
    temporary.close();

    std::filesystem::rename(QFileInfo(temporary.fileName()).filesystemFilePath(), info.filesystemFilePath(), error);
    if (error) return failure(FileWriteFailure::RenameFailed, path, QString::fromLocal8Bit(error.message()));
    // The temporary name is gone; nothing is left to remove.
    temporary.setAutoRemove(false);
    return {FileWriteFailure::None, path, {}};
}

QString describe(const FileWriteResult& result) {
    QString why;
    switch (result.failure) {
    case FileWriteFailure::None: return {};
    case FileWriteFailure::NoFileName: why = QStringLiteral("no file name"); break;
    case FileWriteFailure::NotRegularFile: why = QStringLiteral("it exists and is not a regular file"); break;
    case FileWriteFailure::CannotCreate:
    case FileWriteFailure::ShortWrite:
    case FileWriteFailure::NotOnDisk:
    case FileWriteFailure::RenameFailed: why = result.detail; break;
    }
    return QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(result.path), why);
}

FileWriteResult check_replaceable(const QString& path) {
    // Links are followed: what matters is what the rename would replace.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(QFileInfo(path).filesystemFilePath(), error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return failure(FileWriteFailure::NotRegularFile, path);
    return {FileWriteFailure::None, path, {}};
}

void ignore_file_size_signal() {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace vk61
