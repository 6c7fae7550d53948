// A download server that accepts connections and never answers must not hold
// the window: it appears and connects at once, loads the configuration, and
// fills the devices table's names and update column once a later manifest
// arrives. (The time bars are measured by bench_window_unanswering_server.)
#include <QDir>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>

#include "downloads/manifest_service.h"
#include "http_message.h"
#include "loopback_http_server.h"
#include "window_test_support.h"

using windowtest::SimulatedWindow;

namespace {

const QByteArray kManifest = R"({"firmware_packages":[
    {"device_type":"C3","display_name":"Halvard EFIS","firmware_file":"halvard.bin","firmware_version":"1.5.0","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
    {"device_type":"D5","display_name":"Tessaly","firmware_file":"tessaly.bin","firmware_version":"2.1.0","sha256":"bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"}]})";

enum Column { ColDevice = 1, ColUpdate = 3 };

QStringList column(QTableWidget* table, int column) {
    QStringList out;
    for (int row = 0; row < table->rowCount(); ++row)
        out << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return out;
}

}  // namespace

class UnansweringServerTest : public QObject {
    Q_OBJECT

private slots:
    void windowLoadsBesideASilentServer_tableFillsFromTheLaterManifest() {
        // No manifest from an earlier run: only the server can fill the table.
        QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)).removeRecursively();
        int silent = 1;  // the launch's request is never answered; later ones are
        vk61::LoopbackHttpServer server([&silent](const vk61::HttpRequest&) {
            vk61::HttpResponse response;
            if (silent-- > 0)
                response.never_answer = true;
            else
                response.body = kManifest;
            return response;
        });
        QVERIFY(server.listen());
        vk61::WindowSettings settings = windowtest::offTheNetwork();
        settings.downloads.manifest_url = server.url("/firmware/downloads_manifest.json");
        settings.downloads.fetch_timeout_ms = 3000;
        settings.downloads.manifest_retry_interval_ms = 4000;
        settings.initial_load_delay_ms = 1;

        SimulatedWindow w(3, settings);
        QVERIFY(w.waitForInitialLoad());
        QCOMPARE(w.statuses.value(0), QString("Connecting..."));
        // Loaded while the launch's request still waits (it is not answered,
        // and times out only after 3 s): nothing waited on it.
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 2500);
        auto* table = w.widget<QTableWidget>("table_devices");
        QCOMPARE(column(table, ColDevice), (QStringList{"Halvard", "Tessaly", "Morrow"}));
        QCOMPARE(column(table, ColUpdate), (QStringList{"Unknown", "Unknown", "Unknown"}));

        // The one retry of the interval brings the manifest; the table
        // refreshes by itself.
        QTRY_COMPARE_WITH_TIMEOUT(column(table, ColUpdate), (QStringList{"Yes", "No", "Unknown"}), 15000);
        QCOMPARE(column(table, ColDevice), (QStringList{"Halvard EFIS", "Tessaly", "Morrow"}));
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(w.window->manifestService().firmware_packages().size() == 2);
    }
};

QTEST_MAIN(UnansweringServerTest)
#include "test_unanswering_server.moc"
