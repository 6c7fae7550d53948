// What export and import cost beyond the bus: building the file from the
// record, writing it atomically, reading it back, checking every setting and
// finding the ones that differ from what the EFIS holds. Limit: 100 ms each.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "config/config_file.h"
#include "config/config_record.h"

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A record like one a unit holds: every setting non-zero, a registration.
vk61::ConfigRecord sampleRecord() {
    vk61::ConfigRecord record;
    record.set_magic(vk61::ConfigRecord::kMagic);
    record.set_memory_version(3);
    record.set_num_elements(vk61::ConfigRecord::kCoveredWords);
    const std::uint32_t values[] = {0x14A,      45,         40,         50,         90,         130,        180,
                                    70,         100,        115,        155,        0x4E313233, 0x41420000, 0,
                                    0xFF3C78D8, 0xFF87CEEB, 0xFF8B4513, 0xFF5C3317, 0xFFFF00FF, 0xFFFFFFFF, 0xFF00C000,
                                    0xFFFFFF00, 0xFFFF0000, 0xFF00FF00, 12,         0x3F800000, 0xBF000000, 110,
                                    160,        128,        0,          0xA1B2C3,   0,          3,          0x0A,
                                    1,          0x00000100, 0,          0,          0};
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) vk61::config_set_value(record, index, values[index]);
    return record;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath("export.json");
    const vk61::ConfigRecord efis = sampleRecord();
    vk61::ConfigRecord changed = efis;
    vk61::config_set_value(changed, 6, 200);

    const int runs = 200;
    std::vector<double> export_ms, import_ms;
    std::size_t differences = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        vk61::ConfigFile file;
        file.created = QDateTime::currentDateTimeUtc();
        file.tool = "vk61-efis-config bench";
        file.reason = "export";
        file.efis = {"0xC3010001", "1.4.2", 3};
        file.settings = efis;
        file.present.set();
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(vk61::write_config_file(file)) < 0 || !out.commit()) {
            std::fprintf(stderr, "bench_config_file: cannot write %s\n", qPrintable(path));
            return 1;
        }
        export_ms.push_back(timer.nsecsElapsed() / 1e6);

        timer.restart();
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly)) return 1;
        QString error;
        const auto read = vk61::read_config_file(in.readAll(), &error);
        if (!read) {
            std::fprintf(stderr, "bench_config_file: %s\n", qPrintable(error));
            return 1;
        }
        differences = vk61::changed_settings(*read, changed).size();
        import_ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf(
        "bench_config_file: %d runs, export (build, write atomically) median %.3f ms, import (read, check, "
        "compare; %zu difference(s)) median %.3f ms (limit 100 ms each)\n",
        runs, median(export_ms), differences, median(import_ms));
    return 0;
}
