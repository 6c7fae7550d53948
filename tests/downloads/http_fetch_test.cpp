#include "downloads/download_limits.h"
#include "downloads/http_fetch.h"

#include "loopback_http_server.h"
#include "test_support.h"

#include <QDir>
#include <QMap>

#include <csignal>
#include <sys/resource.h>

namespace vk61 {
namespace {

// Where a package goes and what proves it.
PackageTarget target(const QString& path, const QByteArray& content) {
    return {path, kMaxAirportDatabaseBytes, test::sha256_hex(content), QStringLiteral("Airport database")};
}

HttpResponse ok(QByteArray body) {
    HttpResponse response;
    response.body = std::move(body);
    return response;
}

// A plain and a TLS server on loopback, both answering from one route table.
class HttpFetchTest : public test::DownloadsTest {
protected:
    void SetUp() override {
        test::DownloadsTest::SetUp();
        ASSERT_TRUE(plain_.listen());
        if (test::tls_available()) {
            ASSERT_TRUE(secure_.listen_tls(test::server_tls_configuration()));
        }
        HttpResponse cookie = ok("manifest body");
        cookie.headers.emplaceBack("Set-Cookie", "session=1; Path=/");
        HttpResponse silent;
        silent.never_answer = true;
        HttpResponse trickle = ok(QByteArray(200, 'x'));
        trickle.trickle_interval_ms = 20;  // 4 s for the body: never silent, never done in time
        routes_ = {{"/m.json", cookie},
                   {"/missing", HttpResponse::not_found()},
                   {"/empty", ok("")},
                   {"/silent", silent},
                   {"/trickle", trickle},
                   {"/target", ok("secure target")},
                   {"/to-secure", HttpResponse::redirect("/target", 301)},
                   {"/to-plain", HttpResponse::redirect(plain_.url("/m.json").toEncoded())},
                   {"/big", ok(QByteArray(256 * 1024, 'p'))}};
    }
    HttpResponse route(const HttpRequest& request) { return routes_.value(request.path, HttpResponse::not_found()); }

    QMap<QByteArray, HttpResponse> routes_;
    LoopbackHttpServer plain_{[this](const HttpRequest& r) { return route(r); }};
    LoopbackHttpServer secure_{[this](const HttpRequest& r) { return route(r); }};
};

TEST_F(HttpFetchTest, outcomes) {
    EXPECT_EQ(DownloadSettings{}.fetch_timeout_ms, 60000);  // what the product runs with
    // Only the rows that must run out of time get the short limit; the others
    // answer at once, and a short limit would make them fail on a slow run
    // (a sanitizer build on a busy machine) rather than on a fault.
    const int short_timeout_ms = 300;
    struct Row {
        bool tls;
        const char* path;
        const char* body;   // expected body, or null for a failure
        const char* error;  // how the message starts; "%1" stands for the URL
    };
    const Row rows[] = {
        {false, "/m.json", "manifest body", nullptr},
        {false, "/empty", "", nullptr},
        {false, "/missing", nullptr, "Network error fetching %1: "},
        {true, "/to-secure", "secure target", nullptr},  // the redirect's own body is not part of it
        {true, "/to-plain", nullptr, "Network error fetching %1: "},
        {false, "/silent", nullptr, "Timed out fetching %1"},
        {false, "/trickle", nullptr, "Timed out fetching %1"},  // a limit on the whole exchange
    };
    for (const Row& row : rows) {
        if (row.tls && !test::tls_available()) continue;
        const QUrl url = (row.tls ? secure_ : plain_).url(QString::fromLatin1(row.path));
        const bool times_out = row.error != nullptr && QByteArray(row.error).startsWith("Timed out");
        const FetchResult fetched = fetch_url(url, times_out ? short_timeout_ms : kFetchTimeoutMs, kMaxManifestBytes);
        EXPECT_EQ(fetched.ok(), row.body != nullptr) << row.path;
        EXPECT_EQ(fetched.body, row.body ? QByteArray(row.body) : QByteArray()) << row.path;
        const QString error = describe(fetched);
        const QString expected = QString::fromLatin1(row.error).replace("%1", url.toString());
        EXPECT_TRUE(row.body ? error.isEmpty() : error.startsWith(expected)) << row.path << ": " << error.toStdString();
    }
    EXPECT_EQ(plain_.requests().size(), 5);  // the https -> http redirect never reached it
    if (!test::tls_available()) GTEST_SKIP() << "no TLS backend: the https rows did not run";
}

TEST_F(HttpFetchTest, notFoundTextAndRequestHeaders) {
    const FetchResult missing = fetch_url(plain_.url("/missing"), kFetchTimeoutMs, kMaxManifestBytes);
    EXPECT_EQ(missing.failure, DownloadFailure::HttpStatus);
    EXPECT_TRUE(describe(missing).contains("Not Found"))
        << describe(missing).toStdString();  // the network layer's text
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(fetch_url(plain_.url("/m.json"), kFetchTimeoutMs, kMaxManifestBytes).ok());
    ASSERT_EQ(plain_.requests().size(), 3);
    EXPECT_EQ(plain_.requests()[1].header("User-Agent"), "Corvane_config_v2");
    EXPECT_EQ(plain_.requests()[2].header("Cookie"), "");  // a fresh access object each call
}

TEST_F(HttpFetchTest, emptyBodyIsNeverStored) {
    const QString path = current_dir() + "/pkg.bin";
    const FileResult empty = download_to_file(plain_.url("/empty"), kFetchTimeoutMs, target(path, ""));
    EXPECT_FALSE(empty.ok());
    EXPECT_EQ(describe(empty), "Downloaded file is empty: " + plain_.url("/empty").toString());
    EXPECT_FALSE(QFile::exists(path));
    const FileResult stored = download_to_file(plain_.url("/m.json"), kFetchTimeoutMs, target(path, "manifest body"));
    ASSERT_TRUE(stored.ok()) << describe(stored).toStdString();
    EXPECT_EQ(stored.path, path);
    EXPECT_EQ(test::read_file(path), "manifest body");
}

TEST_F(HttpFetchTest, failedWriteLeavesNoPartialFile) {
    const QString path = current_dir() + "/pkg.bin";
    test::write_file(path, "old package");

    // A full disk, in miniature: files of this process may not grow past 8 KiB.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 8 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileResult stored =
        download_to_file(plain_.url("/big"), kFetchTimeoutMs, target(path, QByteArray(256 * 1024, 'p')));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous_handler);

    EXPECT_FALSE(stored.ok());
    EXPECT_EQ(describe(stored), "Failed to write complete file to " + path);
    EXPECT_EQ(test::read_file(path), "old package");
    EXPECT_EQ(QDir(current_dir()).entryList(QDir::Files | QDir::Hidden), QStringList{"pkg.bin"});
}

}  // namespace
}  // namespace vk61
