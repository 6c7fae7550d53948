// The manifest beside a window: lookups of the package list never wait,
// make at most one online attempt per retry interval, and a callback whose
// caller has gone never runs.
#include "downloads/download_limits.h"
#include "downloads/http_fetch.h"
#include "downloads/manifest_service.h"

#include "loopback_http_server.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace vk61 {
namespace {

const QByteArray kManifest =
    R"({"firmware_packages":[{"device_type":"C3","firmware_file":"a.bin","firmware_version":"1.5.0","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}]})";

// The first `silent` manifest requests are never answered; later ones are.
class ManifestServiceTest : public test::DownloadsTest {
protected:
    void SetUp() override {
        test::DownloadsTest::SetUp();
        ASSERT_TRUE(server_.listen());
    }
    DownloadSettings fast_settings() const {
        DownloadSettings settings = test::DownloadsTest::settings();
        settings.manifest_url = server_.url("/firmware/downloads_manifest.json");
        settings.fetch_timeout_ms = 600;
        settings.manifest_retry_interval_ms = 1000;
        return settings;
    }
    int requests() const { return static_cast<int>(server_.requests().size()); }

    int silent_ = 1;
    LoopbackHttpServer server_{[this](const HttpRequest&) {
        HttpResponse response;
        if (silent_-- > 0)
            response.never_answer = true;
        else
            response.body = kManifest;
        return response;
    }};
};

TEST_F(ManifestServiceTest, lookupsRetryOncePerIntervalAndFillTheList) {
    ManifestService service(fast_settings());
    QSignalSpy changed(&service, &ManifestService::firmware_packages_changed);
    QElapsedTimer clock;
    clock.start();
    service.request_packages();  // returns without waiting; the server stays silent
    // A call that waited for the network would return only at the fetch's
    // time-out, 600 ms.
    EXPECT_LT(clock.elapsed(), 600);
    EXPECT_TRUE(service.firmware_packages().isEmpty());

    // Lookups while the first attempt waits, and after its time-out, add no
    // request before the interval has passed.
    while (clock.elapsed() < 800) {
        service.request_packages();
        QTest::qWait(50);
    }
    EXPECT_EQ(requests(), 1);
    EXPECT_TRUE(changed.isEmpty());

    // The retry armed by those lookups comes at the end of the interval.
    ASSERT_TRUE(changed.wait(3000));
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_EQ(requests(), 2);
    ASSERT_EQ(service.firmware_packages().size(), 1);
    EXPECT_EQ(service.firmware_packages()[0].firmware_file, "a.bin");

    // A filled list asks for nothing more.
    service.request_packages();
    QTest::qWait(1200);
    EXPECT_EQ(requests(), 2);
    EXPECT_EQ(changed.size(), 1);
}

TEST_F(ManifestServiceTest, failedAttemptFallsBackToTheCopyBesideTheApplication) {
    test::write_file(app_dir() + "/firmware/downloads_manifest.json", kManifest);
    ManifestService service(fast_settings());
    QSignalSpy changed(&service, &ManifestService::firmware_packages_changed);
    service.request_packages();
    ASSERT_TRUE(changed.wait(3000));  // after the 300 ms time-out
    EXPECT_EQ(service.firmware_packages().size(), 1);
    EXPECT_EQ(service.memory_copy(), kManifest);
}

TEST_F(ManifestServiceTest, callbackOfAGoneCallerNeverRuns) {
    silent_ = 100;
    ManifestService service(fast_settings());
    bool ran = false;
    auto caller = std::make_unique<QObject>();
    service.load(caller.get(), [&ran](const FetchResult&) { ran = true; });
    auto fetch_context = std::make_unique<QObject>();
    start_fetch(server_.url("/other"), 300, kMaxManifestBytes, fetch_context.get(),
                [&ran](const FetchResult&) { ran = true; });
    caller.reset();
    fetch_context.reset();  // aborts its request
    QTest::qWait(600);      // past both time-outs
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace vk61
