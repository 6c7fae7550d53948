// What an untrusted download server can cost the command-line tool, measured
// on the tool itself (vk61-efis-cli-demo, run under /usr/bin/time -f "%M %e"
// for its peak RSS and wall time; each run is a fresh process).
//
//   (default)       `fetch manifest` against a server whose answer never
//                   ends. Limits: peak RSS under 64 MiB, refused in under 5 s.
//   --fetch-upload  `airports upload --fetch` of a 54,525,952-byte database
//                   (the largest the units take) to one unit of vk61-bus-sim.
//                   Limit: peak RSS under twice the file's size. The upload
//                   runs at the protocol's pace: about eight minutes a run.
//
// Usage: bench_downloads_untrusted [--fetch-upload] [--runs N]
// Medians of the runs are printed with each limit.
#include "bench_downloads_support.h"
#include "directory_handler.h"
#include "downloads/download_limits.h"
#include "loopback_http_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

// The largest database the units take.
constexpr qint64 kDatabaseBytes = vk61::kMaxAirportDatabaseBytes;

struct Measured {
    int exit_code = -1;
    double peak_mib = 0;
    double seconds = 0;
    QByteArray err;
};

// Runs the tool under /usr/bin/time while this thread's event loop keeps
// serving (the server lives on it).
bool run_tool(const QStringList& args, const QProcessEnvironment& env, int limit_ms, Measured* out) {
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QStringLiteral("/usr/bin/time"),
                QStringList{"-f", "vk61-bench %M %e", QStringLiteral(VK61_CLI_DEMO)} + args);
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(limit_ms, &loop, &QEventLoop::quit);
    if (!child.waitForStarted(10000)) return false;
    loop.exec();
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(5000);
        return false;
    }
    out->err = child.readAllStandardError();
    const qsizetype at = out->err.lastIndexOf("vk61-bench ");
    if (at < 0) return false;
    const QList<QByteArray> fields = out->err.mid(at).trimmed().split(' ');
    out->peak_mib = fields.value(1).toLongLong() / 1024.0;
    out->seconds = fields.value(2).toDouble();
    // time(1) exits with the tool's own code.
    out->exit_code = child.exitCode();
    return true;
}

QProcessEnvironment tool_environment(const QTemporaryDir& home, const QUrl& manifest) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CACHE_HOME", home.path() + "/cache");
    env.insert("XDG_DATA_HOME", home.path() + "/data");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VK61_DEMO_MANIFEST_URL", manifest.toString());
    return env;
}

int endless_manifest(int runs) {
    vk61::LoopbackHttpServer server([](const vk61::HttpRequest&) {
        vk61::HttpResponse response;
        response.body = "{\"firmware_packages\":[";
        response.omit_length = true;
        response.repeat_body_bytes = std::numeric_limits<qint64>::max();
        return response;
    });
    if (!server.listen()) return 1;
    std::vector<double> peaks, times;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir home;
        Measured m;
        if (!run_tool({"fetch", "manifest"}, tool_environment(home, server.url("/firmware/downloads_manifest.json")),
                      60000, &m)) {
            std::fprintf(stderr, "run %d did not finish\n", run + 1);
            return 1;
        }
        if (m.exit_code != 4) {
            std::fprintf(stderr, "run %d: exit %d, not 4\n%s", run + 1, m.exit_code, m.err.constData());
            return 1;
        }
        peaks.push_back(m.peak_mib);
        times.push_back(m.seconds);
        std::printf("run %d: exit 4, peak RSS %.1f MiB, %.2f s\n", run + 1, m.peak_mib, m.seconds);
    }
    const double peak = bench::median(peaks), seconds = bench::median(times);
    std::printf("fetch manifest against an endless body, %d runs\n", runs);
    std::printf("median peak RSS: %.1f MiB (limit 64 MiB) -> %s\n", peak, peak < 64 ? "within" : "OVER");
    std::printf("median time to refuse: %.2f s (limit 5 s) -> %s\n", seconds, seconds < 5 ? "within" : "OVER");
    return 0;
}

int fetch_and_upload(int runs) {
    QTemporaryDir root;
    const QString digest = bench::write_random_file(root.filePath("databases/airports.db"), kDatabaseBytes, 17);
    if (digest.isEmpty()) return 1;
    vk61::LoopbackHttpServer server(vk61::make_directory_handler(root.path()));
    if (!server.listen()) return 1;
    const QJsonObject firmware{{"device_type", "C3"},
                               {"firmware_file", "efis.bin"},
                               {"sha256", QString(64, 'e')},
                               {"firmware_version", "9.0.0"}};
    const QJsonObject database{{"db_type", "airport"},
                               {"cycle_effective_date", "2026-11-27"},
                               {"database_file", "airports.db"},
                               {"download_url", server.url("/databases/airports.db").toString()},
                               {"sha256", digest}};
    QFile manifest(root.filePath("firmware/downloads_manifest.json"));
    QDir().mkpath(root.filePath("firmware"));
    if (!manifest.open(QIODevice::WriteOnly) ||
        manifest.write(QJsonDocument(QJsonObject{{"firmware_packages", QJsonArray{firmware}},
                                                 {"database_files", QJsonArray{database}}})
                           .toJson()) <= 0)
        return 1;
    manifest.close();

    std::vector<double> peaks, times;
    for (int run = 0; run < runs; ++run) {
        QProcess simulator;
        simulator.setProcessChannelMode(QProcess::MergedChannels);
        simulator.start(QStringLiteral(VK61_BUS_SIM), {"--port", "0", "--units", "1", "--latency-us", "0"});
        QByteArray banner;
        QElapsedTimer waited;
        waited.start();
        while (!banner.contains("listening on 127.0.0.1:") && waited.elapsed() < 10000 &&
               simulator.waitForReadyRead(1000))
            banner += simulator.readAll();
        const qsizetype at = banner.indexOf("127.0.0.1:");
        if (at < 0) {
            std::fprintf(stderr, "vk61-bus-sim did not start\n");
            return 1;
        }
        const QByteArray port = banner.mid(at + 10).split(' ').value(0).trimmed();

        QTemporaryDir home;
        QProcessEnvironment env = tool_environment(home, server.url("/firmware/downloads_manifest.json"));
        env.insert("VK61_BRIDGE", QString::fromLatin1("127.0.0.1:" + port));
        Measured m;
        const bool finished = run_tool({"airports", "upload", "--fetch"}, env, 30 * 60 * 1000, &m);
        simulator.terminate();
        simulator.waitForFinished(5000);
        if (!finished || m.exit_code != 0) {
            std::fprintf(stderr, "run %d failed (exit %d)\n%s", run + 1, m.exit_code, m.err.right(2000).constData());
            return 1;
        }
        peaks.push_back(m.peak_mib);
        times.push_back(m.seconds);
        std::printf("run %d: peak RSS %.1f MiB in %.0f s\n", run + 1, m.peak_mib, m.seconds);
    }
    const double file_mib = kDatabaseBytes / 1048576.0, peak = bench::median(peaks);
    std::printf("airports upload --fetch of %.0f MiB to one unit, %d run(s)\n", file_mib, runs);
    std::printf("median peak RSS: %.1f MiB = %.2fx the file (limit 2x) -> %s\n", peak, peak / file_mib,
                peak < 2 * file_mib ? "within" : "OVER");
    std::printf("median time: %.0f s\n", bench::median(times));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bool upload = false;
    int runs = -1;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--fetch-upload")
            upload = true;
        else if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
    }
    if (upload) return fetch_and_upload(runs < 0 ? 1 : runs);
    return endless_manifest(runs < 0 ? 5 : runs);
}
