#include "downloads/database_package.h"
#include "downloads/download_locations.h"
#include "downloads/firmware_package.h"

#include "loopback_http_server.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>

namespace vk61 {
namespace {

using test::read_file;
using test::sha256_hex;
using test::write_file;

// A server with one package file whose content the test can change.
class PackageResolveTest : public test::DownloadsTest {
protected:
    void SetUp() override {
        test::DownloadsTest::SetUp();
        ASSERT_TRUE(server_.listen());
    }

    FirmwarePackage package(const QString& file, const QByteArray& digest_of, bool with_url = true) {
        FirmwarePackage p;
        p.device_type = "C3";
        p.firmware_file = file;
        p.sha256 = digest_of.isNull() ? QString() : sha256_hex(digest_of);
        if (with_url) p.download_url = server_.url("/pkg/" + QFileInfo(file).fileName()).toString();
        return p;
    }
    QString cached(const QString& name) { return QDir(downloads_cache_dir()).filePath(name); }

    HttpResponse served_;
    LoopbackHttpServer server_{[this](const HttpRequest&) { return served_; }};
};

TEST_F(PackageResolveTest, staleCachedCopyIsReplacedInTheSameCall) {
    write_file(cached("app.bin"), "old build");
    served_.body = "new build";
    const FileResult resolved = package("sub/dir/app.bin", "new build").resolve_local_path(settings());
    ASSERT_TRUE(resolved.ok()) << describe(resolved).toStdString();
    EXPECT_EQ(resolved.path, cached("app.bin"));
    EXPECT_EQ(read_file(resolved.path), "new build");
    EXPECT_EQ(server_.requests().size(), 1);
    EXPECT_EQ(server_.requests()[0].path, "/pkg/app.bin");
}

TEST_F(PackageResolveTest, goodCachedCopyIsUsedWithoutTheNetwork) {
    write_file(cached("app.bin"), "cached build");
    const FileResult resolved = package("app.bin", "cached build").resolve_local_path(settings());
    ASSERT_TRUE(resolved.ok());
    EXPECT_EQ(resolved.path, cached("app.bin"));
    EXPECT_TRUE(server_.requests().isEmpty());
}

TEST_F(PackageResolveTest, downloadThatFailsItsDigestIsDeleted) {
    served_.body = "tampered";
    const FileResult resolved = package("app.bin", "genuine").resolve_local_path(settings());
    EXPECT_EQ(resolved.failure, DownloadFailure::DigestMismatch);
    EXPECT_TRUE(describe(resolved).startsWith("Firmware file SHA-256 does not match the manifest.\nExpected: "))
        << describe(resolved).toStdString();
    EXPECT_EQ(resolved.path, "");
    EXPECT_FALSE(QFile::exists(cached("app.bin")));
}

TEST_F(PackageResolveTest, packageWithoutUrlComesFromTheLocalFolderChecked) {
    write_file(QDir(local_firmware_dir(settings())).filePath("app.bin"), "local build");
    const FileResult other = package("sub/app.bin", "something else", false).resolve_local_path(settings());
    EXPECT_TRUE(describe(other).startsWith("Firmware file SHA-256 does not match the manifest."))
        << describe(other).toStdString();
    const FileResult local = package("sub/app.bin", "local build", false).resolve_local_path(settings());
    ASSERT_TRUE(local.ok());
    EXPECT_EQ(local.path, QDir(local_firmware_dir(settings())).filePath("app.bin"));

    write_file(cached("app.bin"), "cached build");  // a verified cached copy wins
    const FileResult cached_copy = package("app.bin", "cached build", false).resolve_local_path(settings());
    ASSERT_TRUE(cached_copy.ok());
    EXPECT_EQ(cached_copy.path, cached("app.bin"));
}

TEST_F(PackageResolveTest, failedDownloadNeverFallsBackToTheLocalFolder) {
    write_file(QDir(local_firmware_dir(settings())).filePath("app.bin"), "local build");
    served_ = HttpResponse::not_found();
    const FileResult resolved = package("app.bin", "local build").resolve_local_path(settings());
    EXPECT_FALSE(resolved.ok());
    EXPECT_TRUE(describe(resolved).startsWith("Network error fetching ")) << describe(resolved).toStdString();
}

TEST_F(PackageResolveTest, interruptedDownloadLeavesNothingToReuse) {
    served_.body = QByteArray(5000, 'f');
    served_.close_after_bytes = 2000;
    EXPECT_FALSE(package("app.bin", served_.body).resolve_local_path(settings()).ok());
    EXPECT_FALSE(QFileInfo::exists(cached("app.bin")));

    served_.close_after_bytes = -1;
    const FileResult resolved = package("app.bin", served_.body).resolve_local_path(settings());
    ASSERT_TRUE(resolved.ok());
    EXPECT_EQ(read_file(resolved.path), served_.body);
    EXPECT_EQ(server_.requests().size(), 2);
}

TEST_F(PackageResolveTest, namesThatAreNotFilesAreRefusedBeforeAnyFileAccess) {
    served_.body = "payload";
    const QString outside = QFileInfo(downloads_cache_dir()).absolutePath();
    for (const char* name : {"", ".", "..", "sub/..", "a/b/", "..\\..", "x\\."}) {
        const FileResult firmware = package(QString::fromLatin1(name), QByteArray()).resolve_local_path(settings());
        EXPECT_EQ(firmware.failure, DownloadFailure::NoFileName) << name;
        EXPECT_EQ(describe(firmware), "Manifest entry has no firmware_file name") << name;
        DatabasePackage db;
        db.database_file = QString::fromLatin1(name);
        db.download_url = server_.url("/pkg/x.db").toString();
        const FileResult database = db.resolve_local_path(settings());
        EXPECT_EQ(database.failure, DownloadFailure::NoFileName) << name;
        EXPECT_EQ(describe(database), "Manifest entry has no database_file name") << name;
    }
    EXPECT_TRUE(server_.requests().isEmpty());
    EXPECT_TRUE(QFileInfo(downloads_cache_dir()).isDir());
    EXPECT_TRUE(QFileInfo(outside).isDir());
}

TEST_F(PackageResolveTest, missingEverywhereAndDatabaseTexts) {
    const FileResult firmware = package("app.bin", "x", false).resolve_local_path(settings());
    EXPECT_EQ(firmware.failure, DownloadFailure::NotAvailable);
    EXPECT_EQ(describe(firmware), "Firmware package not available locally and manifest has no download_url");
    DatabasePackage db;
    db.database_file = "airports.db";
    db.sha256 = sha256_hex("airports");
    EXPECT_EQ(describe(db.resolve_local_path(settings())),
              "Database package not available locally and manifest has no download_url");

    served_.body = "airports";
    db.download_url = server_.url("/db/airports.db").toString();
    db.sha256 = "  " + sha256_hex("airports").toUpper();
    const FileResult database = db.resolve_local_path(settings());
    ASSERT_TRUE(database.ok()) << describe(database).toStdString();
    EXPECT_EQ(database.path, cached("airports.db"));
}

}  // namespace
}  // namespace vk61
