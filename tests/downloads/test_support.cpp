#include "test_support.h"

#include "downloads/download_locations.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>

namespace vk61::test {
namespace {

QByteArray test_data(const char* name) {
    QFile file(QStringLiteral(VK61_TEST_DATA_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) ADD_FAILURE() << "missing test data " << name;
    return file.readAll();
}

}  // namespace

void DownloadsTest::SetUp() {
    ASSERT_TRUE(app_dir_.isValid() && current_dir_.isValid());
    // The cache lives under the scratch HOME that main() set up; empty it.
    QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)).removeRecursively();
    previous_current_dir_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(current_dir_.path()));
}

void DownloadsTest::TearDown() { QDir::setCurrent(previous_current_dir_); }

bool tls_available() { return QSslSocket::supportsSsl(); }

void trust_test_ca() {
    if (!tls_available()) return;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(QSslCertificate::fromData(test_data("test_ca.pem")));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

QSslConfiguration server_tls_configuration() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(test_data("server_cert.pem")));
    configuration.setPrivateKey(QSslKey(test_data("server_key.pem"), QSsl::Rsa));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);  // clients bring no certificate
    return configuration;
}

void write_file(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray read_file(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha256_hex(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

}  // namespace vk61::test
