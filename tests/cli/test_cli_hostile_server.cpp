// A download server that misbehaves: every answer that cannot be trusted ends
// in exit 4 with its reason, leaves the cached manifest as it was, stores no
// package and sends nothing to the units. A good cached manifest still serves
// when the server's answer is refused.
#include <QFileInfo>

#include <functional>
#include <limits>

#include "cli_test_support.h"
#include "downloads/download_locations.h"

namespace clitest {
namespace {

using vk61::HttpRequest;
using vk61::HttpResponse;

// Serves the manifest and the airport database; each test row spoils one
// answer. The manifest is rebuilt from `database_entry` by publish().
class HostileServer {
public:
    explicit HostileServer(const QString& scratch) : scratch_(scratch) {
        server_.listen();
        reset();
    }

    void reset() {
        database = {};
        database.body = kDatabase;
        database_entry = QJsonObject{{"db_type", "airport"},
                                     {"cycle_effective_date", "2026-11-27"},
                                     {"database_file", "airports.db"},
                                     {"download_url", url("/databases/airports.db")},
                                     {"sha256", sha256_hex(kDatabase)}};
        firmware_entry = QJsonObject{{"device_type", "C3"},
                                     {"firmware_file", "efis.bin"},
                                     {"download_url", url("/firmware/efis.bin")},
                                     {"sha256", QString(64, 'e')},
                                     {"firmware_version", "9.0.0"}};
        publish();
    }
    // The manifest as it stands (its firmware package is never fetched here).
    void publish() {
        manifest = {};
        manifest.body = QJsonDocument(QJsonObject{{"firmware_packages", QJsonArray{firmware_entry}},
                                                  {"database_files", QJsonArray{database_entry}}})
                            .toJson();
    }
    QUrl manifest_url() const { return server_.url(QStringLiteral("/firmware/downloads_manifest.json")); }
    QString url(const char* path) const { return server_.url(QString::fromLatin1(path)).toString(); }
    // A file outside any web server whose digest the manifest can give: were
    // a file: address followed, the digest would pass.
    QString local_file() const { return QDir(scratch_).filePath(QStringLiteral("elsewhere.db")); }

    static inline const QByteArray kDatabase = firmware_test::non_zero_bytes(5064, 4);
    HttpResponse manifest;
    HttpResponse database;
    QJsonObject database_entry;
    QJsonObject firmware_entry;

private:
    HttpResponse route(const HttpRequest& request) {
        if (request.path == "/firmware/downloads_manifest.json") return manifest;
        if (request.path == "/databases/airports.db") return database;
        if (request.path == "/to-file") {
            return HttpResponse::redirect(QUrl::fromLocalFile(local_file()).toEncoded());
        }
        return HttpResponse::not_found();
    }

    QString scratch_;
    vk61::LoopbackHttpServer server_{[this](const HttpRequest& request) { return route(request); }};
};

using Spoil = std::function<void(HostileServer&)>;

// Gives the manifest's database entry a bad field (an undefined value
// removes it) and publishes the manifest.
Spoil database_field(const char* key, const QJsonValue& value) {
    return [key, value](HostileServer& s) {
        if (value.isUndefined())
            s.database_entry.remove(key);
        else
            s.database_entry[key] = value;
        s.publish();
    };
}

HttpResponse endless(const QByteArray& piece) {
    HttpResponse response;
    response.body = piece;
    response.omit_length = true;
    response.repeat_body_bytes = std::numeric_limits<qint64>::max();
    return response;
}

class CliHostileServer : public CliFixture {};

TEST_F(CliHostileServer, UntrustedAnswersAreRefusedAndChangeNothing) {
    HostileServer server(scratch.path());
    env.downloads.manifest_url = server.manifest_url();
    ASSERT_TRUE(write_file(server.local_file(), HostileServer::kDatabase));

    // A good manifest in the cache first: every row must leave it as it is.
    const CliRun first = run({"fetch", "manifest"});
    ASSERT_EQ(first.code, 0) << first.err;
    const QString cache_dir = vk61::downloads_cache_dir();
    const QByteArray good_manifest = server.manifest.body;
    ASSERT_EQ(QFile(vk61::manifest_cache_path()).size(), good_manifest.size());

    const std::vector<std::string> fetch_manifest{"fetch", "manifest"};
    const std::vector<std::string> upload_fetched{"airports", "upload", "--fetch"};
    struct Row {
        const char* name;
        Spoil spoil;
        std::vector<std::string> command;
        const char* says;  // part of the message on standard error
    };
    const Row rows[] = {
        // The manifest.
        {"endless manifest", [](HostileServer& s) { s.manifest = endless("{\"firmware_packages\":["); }, fetch_manifest,
         "larger than the limit of 1048576 bytes"},
        {"huge announced manifest", [](HostileServer& s) { s.manifest.repeat_body_bytes = qint64(1) << 30; },
         fetch_manifest, "larger than the limit of 1048576 bytes"},
        {"manifest shorter than announced",
         [](HostileServer& s) { s.manifest.announced_length = s.manifest.body.size() + 4000; }, fetch_manifest,
         "Network error fetching"},
        {"manifest longer than announced", [](HostileServer& s) { s.manifest.announced_length = 100; }, fetch_manifest,
         "Invalid manifest JSON"},
        {"captive portal page", [](HostileServer& s) { s.manifest.body = "<html><body>Sign in</body></html>"; },
         fetch_manifest, "Invalid manifest JSON"},
        {"entry without digest", database_field("sha256", QJsonValue::Undefined), fetch_manifest,
         "Invalid sha256 for database_file airports.db"},
        {"entry with empty digest", database_field("sha256", ""), fetch_manifest,
         "Invalid sha256 for database_file airports.db"},
        {"cycle that is no date", database_field("cycle_effective_date", "9999-99-99"), fetch_manifest,
         "Invalid cycle_effective_date for database_file airports.db"},
        {"package named like the manifest",
         [](HostileServer& s) {
             s.firmware_entry["firmware_file"] = "sub/downloads_manifest.json";
             s.publish();
         },
         fetch_manifest, "is the manifest's own name"},
        // The package, behind a good manifest.
        {"file: address",
         [](HostileServer& s) {
             s.database_entry["download_url"] = QUrl::fromLocalFile(s.local_file()).toString();
             s.publish();
         },
         upload_fetched, "only https and http addresses are followed"},
        {"redirect to a file: address",
         [](HostileServer& s) {
             s.database_entry["download_url"] = s.url("/to-file");
             s.publish();
         },
         upload_fetched, "/to-file"},  // the network layer refuses it before we are asked
        {"endless package", [](HostileServer& s) { s.database = endless("airports"); }, upload_fetched,
         "larger than the limit of 54525952 bytes"},
        {"package shorter than announced",
         [](HostileServer& s) { s.database.announced_length = HostileServer::kDatabase.size() + 4000; }, upload_fetched,
         "Network error fetching"},
        {"package longer than announced", [](HostileServer& s) { s.database.announced_length = 100; }, upload_fetched,
         "Airport database SHA-256 does not match the manifest"},
        {"HTML instead of the package",
         [](HostileServer& s) { s.database.body = "<!DOCTYPE html><html>Not here</html>"; }, upload_fetched,
         "Airport database SHA-256 does not match the manifest"},
    };
    for (const Row& row : rows) {
        server.reset();
        row.spoil(server);
        const CliRun result = run(row.command);
        EXPECT_EQ(result.code, 4) << row.name << ": " << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << row.name << ": " << result.err;
        // A refused manifest leaves the good one; behind a good manifest
        // (the package rows) the cache holds that one.
        QFile cached(vk61::manifest_cache_path());
        ASSERT_TRUE(cached.open(QIODevice::ReadOnly)) << row.name;
        EXPECT_EQ(cached.readAll(), row.command == fetch_manifest ? good_manifest : server.manifest.body) << row.name;
        // Nothing else in the cache: no package, no temporary file left behind.
        EXPECT_EQ(QDir(cache_dir).entryList(QDir::Files | QDir::Hidden | QDir::System),
                  QStringList{"downloads_manifest.json"})
            << row.name;
        EXPECT_EQ(bus.host_frame_count(), 0u) << row.name;
    }

    // The cached manifest still serves when the server's answer is refused.
    server.reset();
    server.manifest.body = "<html><body>Sign in</body></html>";
    const CliRun offline = run(upload_fetched);
    ASSERT_EQ(offline.code, 0) << offline.err;
    for (std::uint8_t uid : bus.unit_uids()) {
        EXPECT_EQ(bus.flash_bytes(uid, 0, static_cast<std::size_t>(HostileServer::kDatabase.size())),
                  bytes_of(HostileServer::kDatabase))
            << "UID " << unsigned{uid};
    }
}

}  // namespace
}  // namespace clitest
