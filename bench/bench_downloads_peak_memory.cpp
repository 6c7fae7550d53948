// Peak memory of downloading and verifying the largest airport database
// (54 MiB) through DatabasePackage::resolve_local_path. The body streams to a
// temporary file and is hashed on the way, so the peak should grow by a few
// MiB whatever the package's size; the limit checked is the looser one of
// twice the package size. The package is served by vk61-download-server in
// its own process, so only the client is measured.
// Usage: bench_downloads_peak_memory [--size-mib N | --size-bytes N] [--runs N]
// Each run is a fresh process (peak RSS only ever grows); medians are printed.
#include "bench_downloads_support.h"
#include "downloads/database_package.h"
#include "downloads/download_limits.h"
#include "downloads/download_locations.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS").
qint64 status_kib(const char* field) {
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// One measured download in this process. Prints "baseline_kib=... peak_kib=...".
int run_once(qint64 size_bytes) {
    QTemporaryDir root;
    // Never whole in this process before the measured download.
    const QString digest = bench::write_random_file(root.filePath("databases/airports_big.db"), size_bytes, 11);
    if (digest.isEmpty()) return 1;

    QProcess server;
    server.start(QStringLiteral(VK61_DOWNLOAD_SERVER), {"--root", root.path(), "--port", "0"});
    QByteArray banner;
    QElapsedTimer waited;
    waited.start();
    while (!banner.contains('\n') && waited.elapsed() < 10000 && server.waitForReadyRead(1000))
        banner += server.readAllStandardOutput();
    const qsizetype at = banner.indexOf(" at ");
    if (at < 0) {
        std::fprintf(stderr, "download server did not start\n");
        return 1;
    }
    const QString base = QString::fromLatin1(banner.mid(at + 4).trimmed());

    vk61::DatabasePackage package;
    package.db_type = "airport";
    package.database_file = "airports_big.db";
    package.download_url = base + "databases/airports_big.db";
    package.sha256 = digest;

    const qint64 baseline = status_kib("VmHWM");
    QElapsedTimer timer;
    timer.start();
    const vk61::FileResult resolved = package.resolve_local_path(vk61::DownloadSettings{});
    const QString path = resolved.path;
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qint64 peak = status_kib("VmHWM");
    server.kill();
    server.waitForFinished(5000);
    if (!resolved.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(vk61::describe(resolved)));
        return 1;
    }
    std::printf("baseline_kib=%lld peak_kib=%lld seconds=%.3f\n", baseline, peak, seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Keep the per-user cache of whoever runs this untouched.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    // The largest database the units take (and the download accepts): 52 MiB.
    qint64 size_bytes = vk61::kMaxAirportDatabaseBytes;
    int runs = 5;
    bool once = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--once")
            once = true;
        else if (args[i] == "--size-bytes" && i + 1 < args.size())
            size_bytes = args[++i].toLongLong();
        else if (args[i] == "--size-mib" && i + 1 < args.size())
            size_bytes = args[++i].toLongLong() << 20;
        else if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
    }
    if (once) return run_once(size_bytes);

    std::vector<double> baselines, peaks, growths, times;
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(app.applicationFilePath(), {"--once", "--size-bytes", QString::number(size_bytes)});
        if (!child.waitForFinished(120000) || child.exitCode() != 0) {
            std::fprintf(stderr, "run %d failed\n", run + 1);
            return 1;
        }
        qint64 baseline = 0, peak = 0;
        double seconds = 0;
        const QByteArray line = child.readAllStandardOutput();
        if (std::sscanf(line.constData(), "baseline_kib=%lld peak_kib=%lld seconds=%lf", &baseline, &peak, &seconds) !=
            3)
            return 1;
        baselines.push_back(baseline / 1024.0);
        peaks.push_back(peak / 1024.0);
        growths.push_back((peak - baseline) / 1024.0);
        times.push_back(seconds);
        std::printf("run %d: peak %.1f MiB (baseline %.1f MiB, growth %.1f MiB) in %.2f s\n", run + 1, peaks.back(),
                    baselines.back(), growths.back(), seconds);
    }
    const double growth = bench::median(growths);
    const double size_mib = size_bytes / 1048576.0;
    std::printf("package: %lld bytes (%.1f MiB), %d runs\n", size_bytes, size_mib, runs);
    std::printf("median peak RSS (VmHWM): %.1f MiB; before the download: %.1f MiB\n", bench::median(peaks),
                bench::median(baselines));
    std::printf(
        "median growth while downloading and verifying: %.1f MiB = %.2fx the package "
        "(limit 2x) -> %s\n",
        growth, growth / size_mib, growth <= 2 * size_mib ? "within" : "OVER");
    std::printf("median time: %.2f s\n", bench::median(times));
    return 0;
}
