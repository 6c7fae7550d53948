// The transfer progress as the update tab shows it: the 0-10,000 scale with
// erase in 0-1,200 and write in 1,200-10,000, and the throttle that lets a
// report through on a phase change, at done = total, after 40 ms, or when the
// bar moved by more than 40 units.
#include <QTest>

#include <cstdint>
#include <vector>

#include "transfer_progress.h"

using vk61::progress::barValue;
using vk61::progress::Throttle;

namespace {

constexpr std::int64_t kMs = 1'000'000;

struct Report {
    std::uint64_t done;
    std::uint64_t total;
    int phase;
    std::int64_t at_ns;
};

// The bar values the throttle lets through for a run of reports.
std::vector<int> shown(Throttle& throttle, const std::vector<Report>& reports) {
    std::vector<int> out;
    for (const Report& r : reports) {
        const int value = barValue(r.done, r.total, static_cast<std::uint64_t>(r.phase));
        if (throttle.accept(value, r.done, r.total, r.phase, r.at_ns)) out.push_back(value);
    }
    return out;
}

}  // namespace

class UpdateProgressTest : public QObject {
    Q_OBJECT

private slots:
    void barValue_data() {
        QTest::addColumn<quint64>("done");
        QTest::addColumn<quint64>("total");
        QTest::addColumn<quint64>("phase");
        QTest::addColumn<int>("value");
        QTest::newRow("erase start") << quint64(0) << quint64(10) << quint64(0) << 0;
        QTest::newRow("erase 1 of 10") << quint64(1) << quint64(10) << quint64(0) << 120;
        QTest::newRow("erase 7 of 10") << quint64(7) << quint64(10) << quint64(0) << 840;
        QTest::newRow("erase done") << quint64(10) << quint64(10) << quint64(0) << 1200;
        QTest::newRow("erase 1 of 3 rounds down") << quint64(1) << quint64(3) << quint64(0) << 400;
        QTest::newRow("write start") << quint64(0) << quint64(8800) << quint64(1) << 1200;
        QTest::newRow("write one byte of 8800") << quint64(1) << quint64(8800) << quint64(1) << 1201;
        QTest::newRow("write half") << quint64(4400) << quint64(8800) << quint64(1) << 5600;
        QTest::newRow("write done") << quint64(8800) << quint64(8800) << quint64(1) << 10000;
        QTest::newRow("erase of nothing") << quint64(0) << quint64(0) << quint64(0) << 0;
        QTest::newRow("write of nothing") << quint64(5) << quint64(0) << quint64(1) << 0;
        // 64-bit products: a 54 MiB database does not overflow.
        QTest::newRow("large write") << quint64(54525951) << quint64(54525952) << quint64(1) << 9999;
        QTest::newRow("huge totals") << quint64(1) << quint64(~0ull) << quint64(1) << 1200;
        QTest::newRow("huge done") << quint64(~0ull) << quint64(~0ull) << quint64(1) << 10000;
    }
    void barValue() {
        QFETCH(quint64, done);
        QFETCH(quint64, total);
        QFETCH(quint64, phase);
        QFETCH(int, value);
        QCOMPARE(::barValue(done, total, phase), value);
    }

    // Ten erased blocks reported at one instant: each step moves the bar by
    // 120 units, so every one is shown.
    void eraseOfTenBlocks_showsEveryBlock() {
        Throttle throttle;
        std::vector<Report> reports;
        for (std::uint64_t block = 0; block <= 10; ++block) reports.push_back({block, 10, 0, 0});
        QCOMPARE(shown(throttle, reports), (std::vector<int>{0, 120, 240, 360, 480, 600, 720, 840, 960, 1080, 1200}));
    }

    // 8,800 bytes, one unit each, all at one instant after the erase: the
    // first write report is shown (new phase), then one whenever the bar has
    // moved by more than 40 units, and the last one.
    void fastWrite_showsOnlyMovesAboveFortyUnits() {
        Throttle throttle;
        std::vector<Report> reports{{10, 10, 0, 0}};
        for (std::uint64_t done = 0; done <= 8800; ++done) reports.push_back({done, 8800, 1, 5 * kMs});
        const std::vector<int> values = shown(throttle, reports);
        QCOMPARE(values.front(), 1200);  // the erase's last value
        QCOMPARE(values[1], 1200);       // first of the write phase
        QCOMPARE(values.back(), 10000);  // done = total
        for (std::size_t i = 2; i + 1 < values.size(); ++i) QCOMPARE(values[i] - values[i - 1], 41);
        QCOMPARE(values.size(), std::size_t{2 + 8800 / 41 + 1});
    }

    // One byte per 10 ms: a small move is shown only once 40 ms have passed
    // since the last shown one (the boundary itself counts as passed).
    void slowWrite_showsOneReportPerFortyMs() {
        Throttle throttle;
        std::vector<Report> reports;
        for (std::uint64_t done = 0; done <= 20; ++done)
            reports.push_back({done, 8800, 1, std::int64_t(done) * 10 * kMs});
        QCOMPARE(shown(throttle, reports), (std::vector<int>{1200, 1204, 1208, 1212, 1216, 1220}));

        Throttle edge;
        QVERIFY(edge.accept(1200, 0, 8800, 1, 0));
        QVERIFY(!edge.accept(1201, 1, 8800, 1, 40 * kMs - 1));
        QVERIFY(edge.accept(1202, 2, 8800, 1, 40 * kMs));
    }

    void throttleRules_data() {
        QTest::addColumn<QList<quint64>>("dones");  // each report: done
        QTest::addColumn<quint64>("total");
        QTest::addColumn<QList<int>>("phases");
        QTest::addColumn<QList<qint64>>("ms");
        QTest::addColumn<QList<bool>>("accepted");
        QTest::newRow("done = total always shown") << QList<quint64>{0, 1, 8800} << quint64(8800) << QList<int>{1, 1, 1}
                                                   << QList<qint64>{0, 1, 2} << QList<bool>{true, false, true};
        QTest::newRow("phase change always shown") << QList<quint64>{0, 1, 0} << quint64(1000) << QList<int>{0, 0, 1}
                                                   << QList<qint64>{0, 1, 2} << QList<bool>{true, false, true};
        QTest::newRow("exactly 40 units is not enough")
            << QList<quint64>{0, 40, 41} << quint64(8800) << QList<int>{1, 1, 1} << QList<qint64>{0, 1, 2}
            << QList<bool>{true, false, true};
        QTest::newRow("total 0: time alone decides")
            << QList<quint64>{0, 0, 0, 0} << quint64(0) << QList<int>{1, 1, 1, 1} << QList<qint64>{0, 39, 40, 41}
            << QList<bool>{true, false, true, false};
    }
    void throttleRules() {
        QFETCH(QList<quint64>, dones);
        QFETCH(quint64, total);
        QFETCH(QList<int>, phases);
        QFETCH(QList<qint64>, ms);
        QFETCH(QList<bool>, accepted);
        Throttle throttle;
        for (int i = 0; i < dones.size(); ++i) {
            const int value = ::barValue(dones[i], total, static_cast<std::uint64_t>(phases[i]));
            QCOMPARE(throttle.accept(value, dones[i], total, phases[i], ms[i] * kMs), accepted[i]);
        }
    }

    // Each unit of an airport transfer starts with a fresh throttle, so its
    // first report (bar 0) is shown even right after the previous unit's.
    void reset_showsTheNextUnitsFirstReport() {
        Throttle throttle;
        QVERIFY(throttle.accept(10000, 64, 64, 1, 0));
        throttle.reset();
        QVERIFY(throttle.accept(0, 0, 1, 0, 1));
        // Without the reset a repeated phase and small move inside 40 ms is dropped.
        QVERIFY(!throttle.accept(0, 0, 1, 0, 2));
    }
};

QTEST_APPLESS_MAIN(UpdateProgressTest)
#include "test_update_progress.moc"
