// Shared set-up of the command-line tests: the commands run in process
// (run_cli) against an in-process simulated installation, with short
// discovery and reboot waits, a scratch backup folder and a downloads
// manifest that is refused at once unless a test serves one.
//
// Checks of what a unit holds ask the simulator (eeprom_element, flash_bytes,
// ...), never the tool's own account.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <QtEndian>

#include <cstdint>
#include <sstream>
#include <thread>
#include <atomic>
#include <string>
#include <vector>

#include "bridge.h"
#include "cli.h"
#include "config/settings_catalogue.h"
#include "config_image.h"
#include "default_installation.h"
#include "directory_handler.h"
#include "installation.h"
#include "loopback_http_server.h"
#include "virtual_hidapi_control.h"
#include "../firmware_test_image.h"

namespace clitest {

// A manifest URL nobody listens at: refused at once.
inline const QUrl kNoManifest{QStringLiteral("http://127.0.0.1:1/firmware/downloads_manifest.json")};

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
    // Standard output as one JSON object (empty when it is not one).
    QJsonObject json() const {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
        return error.error == QJsonParseError::NoError ? document.object() : QJsonObject{};
    }
};

inline QStringList keys_of(const QJsonObject& object) {
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}

using firmware_test::firmware_image;
using firmware_test::non_zero_bytes;

inline QString sha256_hex(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

inline bool write_file(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline std::vector<std::uint8_t> bytes_of(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()),
            reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size()};
}

// A download server on 127.0.0.1 serving the files below a scratch folder.
class DownloadServer {
public:
    DownloadServer() : server_(vk61::make_directory_handler(root_.path())) { server_.listen(); }
    QUrl manifest_url() const { return server_.url(QStringLiteral("/firmware/downloads_manifest.json")); }
    QString url(const QString& relative) const { return server_.url(QStringLiteral("/") + relative).toString(); }
    bool put(const QString& relative, const QByteArray& bytes) {
        return write_file(QDir(root_.path()).filePath(relative), bytes);
    }
    // A manifest with one firmware package (its digest, unless sha256 is
    // given) and one airport database.
    bool put_manifest(const QString& device_type, const QString& version, const QString& file,
                      const QByteArray& firmware, const QString& sha256, const QByteArray& database) {
        put(QStringLiteral("firmware/") + file, firmware);
        put(QStringLiteral("databases/airports.db"), database);
        const QJsonObject package{{"device_type", device_type},
                                  {"display_name", QStringLiteral("EFIS Halvard")},
                                  {"firmware_file", file},
                                  {"download_url", url(QStringLiteral("firmware/") + file)},
                                  {"sha256", sha256.isEmpty() ? sha256_hex(firmware) : sha256},
                                  {"hardware_revisions", QJsonArray{}},
                                  {"firmware_version", version}};
        const QJsonObject airports{{"db_type", "airport"},
                                   {"display_name", "Airports 2026-11"},
                                   {"format_version", 1},
                                   {"cycle_effective_date", "2026-11-27"},
                                   {"database_file", "airports.db"},
                                   {"download_url", url(QStringLiteral("databases/airports.db"))},
                                   {"sha256", sha256_hex(database)}};
        return put(QStringLiteral("firmware/downloads_manifest.json"),
                   QJsonDocument(QJsonObject{{"firmware_packages", QJsonArray{package}},
                                             {"database_files", QJsonArray{airports}}})
                       .toJson());
    }

private:
    QTemporaryDir root_;
    vk61::LoopbackHttpServer server_;
};

class CliFixture : public ::testing::Test {
protected:
    CliFixture() {
        env.progress_terminal = false;
        env.backup_root = backups.path();
        env.timings.discovery_quiet = std::chrono::milliseconds(100);
        env.timings.reboot.first_check = std::chrono::milliseconds(300);
        env.timings.reboot.next_check = std::chrono::milliseconds(100);
        env.timings.reboot.checks = 20;
        env.timings.progress_line_interval = std::chrono::milliseconds(50);
        env.downloads.manifest_url = kNoManifest;
        env.downloads.application_dir = scratch.path() + QStringLiteral("/app");
        // A cache and data folder of this test's own: ctest runs tests side by
        // side, and two of them must not fetch into one cache.
        qputenv("XDG_CACHE_HOME", (scratch.path() + QStringLiteral("/cache")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", (scratch.path() + QStringLiteral("/data")).toLocal8Bit());
    }
    void SetUp() override {
        sim::add_default_units(bus, 3);
        vhid::attach_bridge(&bridge);
    }
    void TearDown() override { vhid::attach_bridge(nullptr); }

    CliRun run(std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        CliRun result;
        result.code = vk61::cli::run_cli(args, out, err, env);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    // The index of a one-index setting.
    static unsigned index_of(const char* name) {
        const vk61::SettingEntry* entry = vk61::find_setting(name);
        EXPECT_NE(entry, nullptr) << name;
        return entry ? entry->first_index : 0;
    }
    std::uint32_t stored(std::uint8_t uid, unsigned index) const {
        return bus.eeprom_element(uid, index).value_or(0xDEADBEEF);
    }
    // Every unit stores a checksum that matches the record it stores.
    void expect_stored_checksums_match() const {
        for (std::uint8_t uid : bus.unit_uids()) {
            const auto image = bus.eeprom_image(uid);
            ASSERT_TRUE(image);
            EXPECT_EQ(stored(uid, 252), sim::config_image_crc(*image)) << "UID " << unsigned{uid};
        }
    }
    QString path(const QString& name) const { return QDir(scratch.path()).filePath(name); }

    QTemporaryDir scratch;
    QTemporaryDir backups;
    vk61::cli::CliEnvironment env;
    sim::Installation bus;
    sim::Bridge bridge{bus};
};

}  // namespace clitest
