// Test entry: Qt networking needs an application object, and every per-user
// location must point into a scratch home so that no test touches the real
// cache of whoever runs the suite.
#include "test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QStandardPaths>
#include <QTemporaryDir>

#if defined(__SANITIZE_THREAD__)
// Qt and OpenSSL are not built with ThreadSanitizer, so the hand-over between
// the network access manager's own thread and ours (through their
// uninstrumented mutexes and atomics) shows up as races inside them. The downloads code itself runs on one
// thread only; reports with a frame in our own code stay visible.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\n"
           "race:libQt6Network.so\n"
           "race:libglib-2.0.so\n"
           "race:libcrypto.so\n"
           "race:libssl.so\n";
}
#endif

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toLocal8Bit());
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    QStandardPaths::setTestModeEnabled(true);

    QCoreApplication app(argc, argv);
    // Loopback only: no proxy may stand between the tests and their servers.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    vk61::test::trust_test_ca();

    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
