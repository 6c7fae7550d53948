// Shared pieces of the downloads tests: an isolated set of per-user and
// application locations per test, the TLS material, small file helpers.
#pragma once

#include <gtest/gtest.h>

#include "downloads/download_settings.h"

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>
#include <QTemporaryDir>

namespace vk61::test {

// Every test starts with an empty download cache and fresh application and
// current directories (so no local manifest exists). settings() holds the
// product's fetch limit and manifest URL with the scratch application folder.
class DownloadsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString app_dir() const { return app_dir_.path(); }
    DownloadSettings settings() const {
        DownloadSettings settings;
        settings.application_dir = app_dir();
        return settings;
    }
    QString current_dir() const { return current_dir_.path(); }

private:
    QTemporaryDir app_dir_;
    QTemporaryDir current_dir_;
    QString previous_current_dir_;
};

// Certificate and key for 127.0.0.1/localhost, signed by the test CA that
// main() makes this process trust.
QSslConfiguration server_tls_configuration();
void trust_test_ca();
bool tls_available();

void write_file(const QString& path, const QByteArray& bytes);  // creates parent folders
QByteArray read_file(const QString& path);
QString sha256_hex(const QByteArray& bytes);

}  // namespace vk61::test
