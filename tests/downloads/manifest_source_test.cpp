#include "downloads/download_locations.h"
#include "downloads/manifest_source.h"
#include "downloads/manifest_service.h"

#include "loopback_http_server.h"
#include "test_support.h"

#include <QFileInfo>

namespace vk61 {
namespace {

using test::read_file;
using test::write_file;

const QByteArray kOnline =
    R"({"firmware_packages":[{"device_type":"C3","firmware_file":"a.bin","firmware_version":"1.5.0","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}]})";

// A good manifest that names its one firmware file `file`.
QByteArray manifest_naming(const char* file) { return QByteArray(kOnline).replace("a.bin", file); }
const QByteArray kLocalCopy = manifest_naming("local.bin");
const QByteArray kCacheCopy = manifest_naming("cache.bin");

// The manifest URL points at a server whose answer the test sets.
class ManifestSourceTest : public test::DownloadsTest {
protected:
    void SetUp() override {
        test::DownloadsTest::SetUp();
        served_.body = kOnline;
        ASSERT_TRUE(server_.listen());
        DownloadSettings settings = test::DownloadsTest::settings();
        settings.manifest_url = server_.url("/firmware/downloads_manifest.json");
        service_ = std::make_unique<ManifestService>(settings);
    }
    QString local_manifest() const { return app_dir() + "/firmware/downloads_manifest.json"; }

    HttpResponse served_;
    LoopbackHttpServer server_{[this](const HttpRequest&) { return served_; }};
    std::unique_ptr<ManifestService> service_;  // one run's memory copy
};

TEST_F(ManifestSourceTest, locations) {
    EXPECT_EQ(default_manifest_url(), QUrl("https://" VK61_MANIFEST_HOST "/firmware/downloads_manifest.json"));
    QDir(downloads_cache_dir()).removeRecursively();
    EXPECT_TRUE(QFileInfo(downloads_cache_dir()).isDir());  // made again on demand
    EXPECT_TRUE(manifest_cache_path().endsWith("/firmware/downloads_manifest.json"));

    // Beside the application only: a copy in the current directory is never one.
    const QStringList candidates = local_manifest_candidates(settings());
    EXPECT_EQ(candidates, QStringList({local_manifest(), app_dir() + "/../firmware/downloads_manifest.json"}));
    EXPECT_EQ(local_firmware_dir(settings()), app_dir() + "/firmware");
    write_file(current_dir() + "/firmware/downloads_manifest.json", kOnline);
    EXPECT_EQ(find_local_manifest(settings()), "");
    EXPECT_EQ(local_firmware_dir(settings()), app_dir() + "/firmware");
    write_file(candidates[0], "{}");
    EXPECT_EQ(find_local_manifest(settings()), candidates[0]);
}

TEST_F(ManifestSourceTest, offlineFallbackOrderIsMemoryThenCacheFileThenLocalCopy) {
    served_ = HttpResponse::not_found();
    QByteArray bytes;
    QString error;
    QList<FirmwarePackage> entries(2);
    EXPECT_FALSE(load_firmware_packages(*service_, &entries, &error));
    EXPECT_TRUE(
        error.startsWith("Network error fetching " + server_.url("/firmware/downloads_manifest.json").toString()))
        << error.toStdString();
    EXPECT_EQ(entries.size(), 2);  // untouched without a manifest

    write_file(manifest_cache_path(), "");  // present but empty: skipped
    write_file(local_manifest(), kLocalCopy);
    ASSERT_TRUE(load_manifest_bytes(*service_, &bytes, &error));
    EXPECT_EQ(bytes, kLocalCopy);
    EXPECT_EQ(read_file(manifest_cache_path()), "");  // disk copies never write the cache file

    write_file(manifest_cache_path(), kCacheCopy);
    ASSERT_TRUE(load_manifest_bytes(*service_, &bytes, &error));
    EXPECT_EQ(bytes, kLocalCopy);  // the memory copy shadows the disk within a run

    service_->forget_memory_copy();
    ASSERT_TRUE(load_manifest_bytes(*service_, &bytes, &error));
    EXPECT_EQ(bytes, kCacheCopy);
}

TEST_F(ManifestSourceTest, prefetchServesThisRunFromMemoryAndTheNextFromTheCacheFile) {
    write_file(manifest_cache_path(), "older cache copy");
    QString error;
    ASSERT_TRUE(prefetch_manifest(*service_, &error)) << error.toStdString();  // the network comes first
    EXPECT_EQ(service_->memory_copy(), kOnline);
    EXPECT_EQ(read_file(manifest_cache_path()), kOnline);

    served_ = HttpResponse::not_found();
    QByteArray bytes;
    ASSERT_TRUE(load_manifest_bytes(*service_, &bytes, nullptr));
    EXPECT_EQ(bytes, kOnline);

    service_->forget_memory_copy();  // the next run
    write_file(local_manifest(), kLocalCopy);
    QList<FirmwarePackage> entries;
    ASSERT_TRUE(load_firmware_packages(*service_, &entries, &error)) << error.toStdString();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].firmware_version.minor, 5);
}

TEST_F(ManifestSourceTest, onlineFetchUsesNoCopies) {
    write_file(local_manifest(), kLocalCopy);
    served_.body = "";
    QByteArray bytes = "unchanged";
    QString error = "unchanged";
    EXPECT_FALSE(fetch_manifest_online(*service_, &bytes, &error));
    EXPECT_EQ(error, "");  // an empty body carries no message of its own
    EXPECT_EQ(bytes, "unchanged");
    EXPECT_TRUE(service_->memory_copy().isEmpty());

    served_.body = kOnline;
    EXPECT_TRUE(fetch_manifest_online(*service_, nullptr, nullptr));
    EXPECT_EQ(service_->memory_copy(), kOnline);
}

}  // namespace
}  // namespace vk61
