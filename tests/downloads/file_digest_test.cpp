#include "downloads/file_digest.h"

#include "test_support.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace vk61 {
namespace {

using test::sha256_hex;
using test::write_file;

TEST(FileDigest, matchesSha256sumOnSeveralMebibytes) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("sha256sum"));
    if (tool.isEmpty()) GTEST_SKIP() << "sha256sum not installed";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    QByteArray bytes(5 * 1024 * 1024 + 17, Qt::Uninitialized);  // not a multiple of any read size
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    write_file(path, bytes);

    QProcess process;
    process.start(tool, {path});
    ASSERT_TRUE(process.waitForFinished(20000));
    const QString reference = QString::fromLatin1(process.readAllStandardOutput().left(64));

    const DigestResult computed = compute_file_sha256(path);
    ASSERT_TRUE(computed.ok());
    EXPECT_EQ(computed.sha256, reference);
}

TEST(FileDigest, verifyNormalisesTheExpectedDigest) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fw.bin"));
    write_file(path, "firmware bytes");
    const QString digest = sha256_hex("firmware bytes");
    const QString wrong = sha256_hex("other bytes");

    const std::pair<QString, bool> rows[] = {
        {digest, true}, {digest.toUpper(), true}, {"  \t" + digest.toUpper() + "\n", true},
        {wrong, false}, {digest.left(63), false},
    };
    for (const auto& [expected, ok] : rows) {
        const DownloadResult verified = verify_file_sha256(path, expected);
        EXPECT_EQ(verified.ok(), ok) << expected.toStdString();
        if (!ok) {
            EXPECT_EQ(describe(verified), "Firmware file SHA-256 does not match the manifest.\nExpected: " +
                                              expected.trimmed().toLower() + "\nActual:   " + digest);
        }
    }
    // No digest in the manifest: accepted without even looking for the file.
    EXPECT_TRUE(verify_file_sha256(dir.filePath("missing.bin"), "   ").ok());
    const DownloadResult missing = verify_file_sha256(dir.filePath("missing.bin"), digest.toUpper());
    EXPECT_EQ(missing.failure, DownloadFailure::FileUnreadable);
    EXPECT_EQ(describe(missing), "Could not read firmware file: " + dir.filePath("missing.bin"));
}

}  // namespace
}  // namespace vk61
