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
    QString path, error;
    ASSERT_TRUE(package("sub/dir/app.bin", "new build").resolve_local_path(settings(), &path, &error))
        << error.toStdString();
    EXPECT_EQ(path, cached("app.bin"));
    EXPECT_EQ(read_file(path), "new build");
    EXPECT_EQ(server_.requests().size(), 1);
    EXPECT_EQ(server_.requests()[0].path, "/pkg/app.bin");
}

TEST_F(PackageResolveTest, goodCachedCopyIsUsedWithoutTheNetwork) {
    write_file(cached("app.bin"), "cached build");
    QString path;
    ASSERT_TRUE(package("app.bin", "cached build").resolve_local_path(settings(), &path, nullptr));
    EXPECT_EQ(path, cached("app.bin"));
    EXPECT_TRUE(server_.requests().isEmpty());
}

TEST_F(PackageResolveTest, downloadThatFailsItsDigestIsDeleted) {
    served_.body = "tampered";
    QString path = "unchanged", error;
    EXPECT_FALSE(package("app.bin", "genuine").resolve_local_path(settings(), &path, &error));
    EXPECT_TRUE(error.startsWith("Firmware file SHA-256 does not match the manifest.\nExpected: "))
        << error.toStdString();
    EXPECT_EQ(path, "unchanged");
    EXPECT_FALSE(QFile::exists(cached("app.bin")));
}

TEST_F(PackageResolveTest, packageWithoutUrlComesFromTheLocalFolderChecked) {
    write_file(QDir(local_firmware_dir(settings())).filePath("app.bin"), "local build");
    QString path, error;
    EXPECT_FALSE(package("sub/app.bin", "something else", false).resolve_local_path(settings(), &path, &error));
    EXPECT_TRUE(error.startsWith("Firmware file SHA-256 does not match the manifest.")) << error.toStdString();
    ASSERT_TRUE(package("sub/app.bin", "local build", false).resolve_local_path(settings(), &path, &error));
    EXPECT_EQ(path, QDir(local_firmware_dir(settings())).filePath("app.bin"));

    write_file(cached("app.bin"), "cached build");  // a verified cached copy wins
    ASSERT_TRUE(package("app.bin", "cached build", false).resolve_local_path(settings(), &path, &error));
    EXPECT_EQ(path, cached("app.bin"));
}

TEST_F(PackageResolveTest, failedDownloadNeverFallsBackToTheLocalFolder) {
    write_file(QDir(local_firmware_dir(settings())).filePath("app.bin"), "local build");
    served_ = HttpResponse::not_found();
    QString path, error;
    EXPECT_FALSE(package("app.bin", "local build").resolve_local_path(settings(), &path, &error));
    EXPECT_TRUE(error.startsWith("Network error fetching ")) << error.toStdString();
}

TEST_F(PackageResolveTest, interruptedDownloadLeavesNothingToReuse) {
    served_.body = QByteArray(5000, 'f');
    served_.close_after_bytes = 2000;
    QString path;
    EXPECT_FALSE(package("app.bin", served_.body).resolve_local_path(settings(), &path, nullptr));
    EXPECT_FALSE(QFileInfo::exists(cached("app.bin")));

    served_.close_after_bytes = -1;
    ASSERT_TRUE(package("app.bin", served_.body).resolve_local_path(settings(), &path, nullptr));
    EXPECT_EQ(read_file(path), served_.body);
    EXPECT_EQ(server_.requests().size(), 2);
}

TEST_F(PackageResolveTest, namesThatAreNotFilesAreRefusedBeforeAnyFileAccess) {
    served_.body = "payload";
    const QString outside = QFileInfo(downloads_cache_dir()).absolutePath();
    for (const char* name : {"", ".", "..", "sub/..", "a/b/", "..\\..", "x\\."}) {
        QString path, error;
        EXPECT_FALSE(package(QString::fromLatin1(name), QByteArray()).resolve_local_path(settings(), &path, &error))
            << name;
        EXPECT_EQ(error, "Manifest entry has no firmware_file name") << name;
        DatabasePackage db;
        db.database_file = QString::fromLatin1(name);
        db.download_url = server_.url("/pkg/x.db").toString();
        EXPECT_FALSE(db.resolve_local_path(settings(), &path, &error)) << name;
        EXPECT_EQ(error, "Manifest entry has no database_file name") << name;
    }
    EXPECT_TRUE(server_.requests().isEmpty());
    EXPECT_TRUE(QFileInfo(downloads_cache_dir()).isDir());
    EXPECT_TRUE(QFileInfo(outside).isDir());
}

TEST_F(PackageResolveTest, missingEverywhereAndDatabaseTexts) {
    QString path, error;
    EXPECT_FALSE(package("app.bin", "x", false).resolve_local_path(settings(), &path, &error));
    EXPECT_EQ(error, "Firmware package not available locally and manifest has no download_url");
    DatabasePackage db;
    db.database_file = "airports.db";
    db.sha256 = sha256_hex("airports");
    EXPECT_FALSE(db.resolve_local_path(settings(), &path, &error));
    EXPECT_EQ(error, "Database package not available locally and manifest has no download_url");

    served_.body = "airports";
    db.download_url = server_.url("/db/airports.db").toString();
    db.sha256 = "  " + sha256_hex("airports").toUpper();
    ASSERT_TRUE(db.resolve_local_path(settings(), &path, &error)) << error.toStdString();
    EXPECT_EQ(path, cached("airports.db"));
}

}  // namespace
}  // namespace vk61
