#include "demo_content.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <random>

namespace vk61 {
namespace {

constexpr quint32 kTotalSize = 0x30000;
constexpr quint32 kEncryptedSize = 150000;
constexpr quint32 kImageOffset = 0x100;
constexpr int kHeaderSize = 64;

// Repeatable filler: the same demo files on every start, different per file.
QByteArray filler(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    std::mt19937 generator(seed);
    for (qsizetype i = 0; i < size; ++i) bytes[i] = static_cast<char>(generator() & 0xFF);
    return bytes;
}

QByteArray firmware_image(quint32 seed) {
    QByteArray image = filler(kHeaderSize + kEncryptedSize, seed);
    uchar* header = reinterpret_cast<uchar*>(image.data());
    qToLittleEndian<quint32>(kTotalSize, header + 8);
    qToLittleEndian<quint32>(kEncryptedSize, header + 16);
    qToLittleEndian<quint32>(kImageOffset, header + 44);
    return image;
}

FileWriteResult write_file(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    return write_file_atomically(path, bytes);
}

QString sha256_hex(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString download_url(const QUrl& base_url, const QString& relative_path) {
    QUrl url = base_url;
    url.setPath(QStringLiteral("/") + relative_path);
    return url.toString();
}

}  // namespace

FileWriteResult write_demo_content(const QString& root, const QUrl& base_url) {
    QJsonArray firmware_packages;
    quint32 seed = 1;
    for (const DemoFirmware& firmware : kDemoFirmware) {
        const QString relative = QStringLiteral("firmware/") + QLatin1String(firmware.file_name);
        const QByteArray image = firmware_image(seed++);
        if (FileWriteResult written = write_file(QDir(root).filePath(relative), image); !written.ok()) return written;
        firmware_packages.append(QJsonObject{
            {"device_type", QLatin1String(firmware.device_type)},
            {"display_name", QLatin1String(firmware.display_name)},
            {"firmware_file", QLatin1String(firmware.file_name)},
            {"download_url", download_url(base_url, relative)},
            {"sha256", sha256_hex(image)},
            {"minimum_bootloader_version", "1.0.0"},
            {"hardware_revisions", QJsonArray{}},
            {"firmware_version", QLatin1String(firmware.version)},
        });
    }

    struct DemoDatabase {
        const char* file_name;
        const char* display_name;
        const char* date;
        qsizetype size;
    };
    static constexpr DemoDatabase kDatabases[] = {
        {"airports_2026-10.db", "Airport database 2026-10", "2026-10-30", 1 << 20},
        {"airports_2026-11.db", "Airport database 2026-11", "2026-11-27", 2 << 20},
    };
    QJsonArray database_files;
    for (const DemoDatabase& database : kDatabases) {
        const QString relative = QStringLiteral("databases/") + QLatin1String(database.file_name);
        const QByteArray bytes = filler(database.size, seed++);
        if (FileWriteResult written = write_file(QDir(root).filePath(relative), bytes); !written.ok()) return written;
        database_files.append(QJsonObject{
            {"db_type", "airport"},
            {"display_name", QLatin1String(database.display_name)},
            {"format_version", 1},
            {"cycle_effective_date", QLatin1String(database.date)},
            {"database_file", QLatin1String(database.file_name)},
            {"download_url", download_url(base_url, relative)},
            {"sha256", sha256_hex(bytes)},
        });
    }

    const QJsonObject manifest{
        {"firmware_packages", firmware_packages},
        {"database_files", database_files},
    };
    return write_file(QDir(root).filePath(QStringLiteral("firmware/downloads_manifest.json")),
                      QJsonDocument(manifest).toJson(QJsonDocument::Indented));
}

}  // namespace vk61
