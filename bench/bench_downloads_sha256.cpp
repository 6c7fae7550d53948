// Hashing speed of compute_file_sha256 on the largest airport database
// (54 MiB), against sha256sum on the same file.
// Limit: within 1.5x of sha256sum's time.
// Usage: bench_downloads_sha256 [--size-mib N] [--runs N]
#include "downloads/file_digest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool write_random_file(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (qint64 left = size; left > 0; left -= chunk.size()) {
        generator.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        const qint64 n = std::min<qint64>(left, chunk.size());
        if (file.write(chunk.constData(), n) != n) return false;
    }
    return true;
}

// Seconds for one sha256sum run, or < 0 on failure; *digest gets its output.
double time_sha256sum(const QString& tool, const QString& path, QString* digest) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(tool, {path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) return -1;
    const double seconds = timer.nsecsElapsed() / 1e9;
    *digest = QString::fromLatin1(process.readAllStandardOutput().left(64));
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qint64 size_mib = 54;
    int runs = 7;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--size-mib")
            size_mib = args[i + 1].toLongLong();
        else if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
    }
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("sha256sum"));
    if (tool.isEmpty()) {
        std::fprintf(stderr, "sha256sum not found\n");
        return 1;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("airports_largest.db"));
    const double mib = double(size_mib);
    if (!dir.isValid() || !write_random_file(path, size_mib << 20)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }

    QString reference, ours;
    time_sha256sum(tool, path, &reference);  // both then read from a warm page cache
    std::vector<double> ours_s, tool_s;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const vk61::DigestResult computed = vk61::compute_file_sha256(path);
        if (!computed.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(vk61::describe(computed)));
            return 1;
        }
        ours = computed.sha256;
        ours_s.push_back(timer.nsecsElapsed() / 1e9);
        QString digest;
        const double t = time_sha256sum(tool, path, &digest);
        if (t < 0 || digest != reference) {
            std::fprintf(stderr, "sha256sum failed\n");
            return 1;
        }
        tool_s.push_back(t);
        std::printf("run %d: compute_file_sha256 %.1f MiB/s, sha256sum %.1f MiB/s\n", run + 1, mib / ours_s.back(),
                    mib / t);
    }
    const double ours_median = median(ours_s), tool_median = median(tool_s);
    std::printf("file: %lld MiB, %d runs, digests %s\n", size_mib, runs, ours == reference ? "agree" : "DIFFER");
    std::printf("median compute_file_sha256: %.3f s = %.1f MiB/s\n", ours_median, mib / ours_median);
    std::printf("median sha256sum (incl. process start): %.3f s = %.1f MiB/s\n", tool_median, mib / tool_median);
    std::printf("time ratio ours/sha256sum: %.2f (limit 1.50) -> %s\n", ours_median / tool_median,
                ours_median <= 1.5 * tool_median ? "within" : "OVER");
    return ours == reference ? 0 : 1;
}
