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
    QList<FirmwarePackage> entries(2);
    const DownloadResult loaded = load_firmware_packages(*service_, &entries);
    EXPECT_EQ(loaded.failure, DownloadFailure::HttpStatus);
    EXPECT_TRUE(describe(loaded).startsWith("Network error fetching " +
                                            server_.url("/firmware/downloads_manifest.json").toString()))
        << describe(loaded).toStdString();
    EXPECT_EQ(entries.size(), 2);  // untouched without a manifest

    write_file(manifest_cache_path(), "");  // present but empty: skipped
    write_file(local_manifest(), kLocalCopy);
    EXPECT_EQ(load_manifest_bytes(*service_).body, kLocalCopy);
    EXPECT_EQ(read_file(manifest_cache_path()), "");  // disk copies never write the cache file

    write_file(manifest_cache_path(), kCacheCopy);
    EXPECT_EQ(load_manifest_bytes(*service_).body, kLocalCopy);  // the memory copy shadows the disk within a run

    service_->forget_memory_copy();
    EXPECT_EQ(load_manifest_bytes(*service_).body, kCacheCopy);
}

TEST_F(ManifestSourceTest, prefetchServesThisRunFromMemoryAndTheNextFromTheCacheFile) {
    write_file(manifest_cache_path(), "older cache copy");
    const DownloadResult prefetched = prefetch_manifest(*service_);
    ASSERT_TRUE(prefetched.ok()) << describe(prefetched).toStdString();  // the network comes first
    EXPECT_EQ(service_->memory_copy(), kOnline);
    EXPECT_EQ(read_file(manifest_cache_path()), kOnline);

    served_ = HttpResponse::not_found();
    const FetchResult loaded = load_manifest_bytes(*service_);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.body, kOnline);

    service_->forget_memory_copy();  // the next run
    write_file(local_manifest(), kLocalCopy);
    QList<FirmwarePackage> entries;
    const DownloadResult parsed = load_firmware_packages(*service_, &entries);
    ASSERT_TRUE(parsed.ok()) << describe(parsed).toStdString();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].firmware_version.minor, 5);
}

TEST_F(ManifestSourceTest, onlineFetchUsesNoCopies) {
    write_file(local_manifest(), kLocalCopy);
    served_.body = "";
    const FetchResult empty = fetch_manifest_online(*service_);
    EXPECT_EQ(empty.failure, DownloadFailure::EmptyManifest);
    EXPECT_EQ(describe(empty), "");  // an empty body carries no message of its own
    EXPECT_TRUE(service_->memory_copy().isEmpty());

    served_.body = kOnline;
    EXPECT_TRUE(fetch_manifest_online(*service_).ok());
    EXPECT_EQ(service_->memory_copy(), kOnline);
}

}  // namespace
}  // namespace vk61
