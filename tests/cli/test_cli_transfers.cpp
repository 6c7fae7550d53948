// firmware update, airports upload, fetch and reboot, checked by what the
// simulated units hold in flash and by the files in the cache.
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "cli_test_support.h"
#include "core/airport_resume.h"
#include "cli/progress_display.h"

namespace clitest {
namespace {

// A phase's last report repeated a moment later works out a rate the first
// one could not have; its line is still shown once.
TEST(ProgressLines, APhasesEndIsShownOnceWhenItsLastReportRepeats) {
    std::ostringstream err;
    vk61::cli::ProgressDisplay display(err, /*terminal=*/false, std::chrono::milliseconds(1000));
    display.record(0, 100, vk61::ProgressPhase::Write);
    display.tick();
    for (int report = 0; report < 2; ++report) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        display.record(100, 100, vk61::ProgressPhase::Write);
        display.tick();
    }
    display.finish();
    const std::string out = err.str();
    // The phase's first line and its end.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
}

// The next unit may begin before the last report of the unit before is
// drawn: that report is still shown as the earlier unit's.
TEST(ProgressLines, AUnitsLastReportKeepsItsUnitWhenTheNextBeginsFirst) {
    std::ostringstream err;
    vk61::cli::ProgressDisplay display(err, /*terminal=*/false, std::chrono::milliseconds(1000));
    display.begin_unit(2, 2, 3);
    display.record(100, 100, vk61::ProgressPhase::Write);
    display.begin_unit(3, 3, 3);
    display.finish();
    EXPECT_EQ(err.str().rfind("Unit 2 / 3 (UID 2): Writing  100%", 0), 0u) << err.str();
}

constexpr std::uint32_t kWriteAddress = 0x00100000;  // the simulated units' firmware address
constexpr std::uint32_t kImageOffset = 0x100;

class CliTransfers : public CliFixture {
protected:
    // Image and header in place on every unit.
    void expect_firmware_in_flash(const QByteArray& file) const {
        const QByteArray body = file.mid(64);
        for (std::uint8_t uid : bus.unit_uids()) {
            EXPECT_EQ(bus.flash_bytes(uid, kWriteAddress + kImageOffset, static_cast<std::size_t>(body.size())),
                      bytes_of(body))
                << "image, UID " << unsigned{uid};
            EXPECT_EQ(bus.flash_bytes(uid, kWriteAddress, 64), bytes_of(file.left(64)))
                << "header, UID " << unsigned{uid};
        }
    }
};

TEST_F(CliTransfers, FirmwareUpdatePutsImageAndHeaderOnEveryUnit) {
    const QByteArray file = firmware_image(0x20000, 5000, kImageOffset);
    ASSERT_TRUE(write_file(path("efis.bin"), file));
    const CliRun result = run({"firmware", "update", path("efis.bin").toStdString(), "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    expect_firmware_in_flash(file);
    EXPECT_EQ(keys_of(result.json()), (QStringList{"file", "units"}));
    EXPECT_EQ(result.json()["units"].toArray().size(), 3);
    // Without a terminal the progress is plain lines.
    EXPECT_NE(result.err.find("Writing  100%  5000 / 5000 bytes"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
    // The configuration before the update was kept.
    EXPECT_EQ(QDir(backups.path() + "/0xC3010001").entryList(QDir::Files).size(), 1);
}

// A unit that refuses a chunk ends the update with exit 1, a message that
// names the step and the unit, and no firmware header written on any unit.
TEST_F(CliTransfers, ARefusedChunkFailsTheUpdateAndNamesTheUnit) {
    const QByteArray file = firmware_image(0x20000, 5000, kImageOffset);
    ASSERT_TRUE(write_file(path("efis.bin"), file));
    bus.add_fault(sim::Fault{sim::FaultKind::Nack, sim::ReplyKind::FlashReply, 0x420, 2, 2});
    const CliRun result = run({"firmware", "update", path("efis.bin").toStdString()});
    EXPECT_EQ(result.code, 1) << result.err;
    EXPECT_NE(result.err.find("UID 2"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("refused"), std::string::npos) << result.err;
    const std::vector<std::uint8_t> erased(64, 0xFF);
    for (std::uint8_t uid : bus.unit_uids()) {
        EXPECT_EQ(bus.flash_bytes(uid, kWriteAddress, 64), erased) << "header, UID " << unsigned{uid};
    }
}

TEST_F(CliTransfers, ProgressOnATerminalRedrawsOneBar) {
    env.progress_terminal = true;
    ASSERT_TRUE(write_file(path("efis.bin"), firmware_image(0x20000, 20000, kImageOffset)));
    const CliRun result = run({"firmware", "update", path("efis.bin").toStdString()});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.err.find("\r["), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("] Writing  100%"), std::string::npos) << result.err;
}

TEST_F(CliTransfers, BadFirmwareFilesAreRefusedBeforeAnythingIsSent) {
    const QByteArray whole = firmware_image(0x20000, 5000, kImageOffset);
    ASSERT_TRUE(write_file(path("truncated.bin"), whole.left(3000)));
    ASSERT_TRUE(write_file(path("header_only.bin"), whole.left(40)));
    ASSERT_TRUE(write_file(path("too_big.bin"), firmware_image(0x1000, 5000, kImageOffset)));
    for (const char* name : {"truncated.bin", "header_only.bin", "too_big.bin", "missing.bin"}) {
        EXPECT_EQ(run({"firmware", "update", path(name).toStdString()}).code, 2) << name;
    }
    EXPECT_EQ(bus.host_frame_count(), 0u);
}

TEST_F(CliTransfers, AFileTheManifestNamesMustMatchItsDigest) {
    const QByteArray file = firmware_image(0x20000, 5000, kImageOffset);
    ASSERT_TRUE(write_file(path("efis.bin"), file));
    DownloadServer server;
    ASSERT_TRUE(server.put_manifest("C3", "9.0.0", "efis.bin", file, QString(64, '0'), "db"));
    env.downloads.manifest_url = server.manifest_url();
    const CliRun result = run({"firmware", "update", path("efis.bin").toStdString()});
    EXPECT_EQ(result.code, 4) << result.err;
    EXPECT_EQ(bus.host_frame_count(), 0u);
}

TEST_F(CliTransfers, FirmwareUpdateFetchesTheUnitsPackage) {
    const QByteArray file = firmware_image(0x20000, 3000, kImageOffset, 7);
    DownloadServer server;
    ASSERT_TRUE(server.put_manifest("C3", "9.0.0", "efis-9.bin", file, {}, "db"));
    env.downloads.manifest_url = server.manifest_url();
    // The EFIS's package reaches the companion units too: --force says so.
    const CliRun result = run({"firmware", "update", "--fetch", "--force"});
    ASSERT_EQ(result.code, 0) << result.err;
    expect_firmware_in_flash(file);
}

// Before anything is sent, each unit is listed with what it will receive; a
// downgrade, an image for another type of unit and an erase far beyond the
// image need --force, and what no erase run can do is refused outright.
TEST_F(CliTransfers, TheFirmwarePlanIsShownAndWhatNeedsASecondLookNeedsForce) {
    struct Row {
        const char* name;
        const char* manifest_version;  // nullptr: no manifest names the file
        std::uint32_t total_size;
        bool force;
        int code;
        const char* says;
    };
    const std::vector<Row> rows = {
        {"image for another type", "9.0.0", 0x20000, false, 2, "UID 2 is a Tessaly and would receive an image for"},
        {"downgrade", "1.0.0", 0x20000, false, 2, "UID 1 (Halvard) would go back from 1.4.2"},
        {"erase 16 MiB for 5,000 bytes", nullptr, 0x1000000, false, 2, "bytes beyond the end of the image"},
        {"erase of 0xFFFFFFFF bytes", nullptr, 0xFFFFFFFF, true, 2, "cannot be sent"},
        {"another type, forced", "9.0.0", 0x20000, true, 0, "UID 3  Morrow  1.0.3 -> efis-9.bin (9.0.0 for Halvard)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray file = firmware_image(row.total_size, 5000, kImageOffset, 11);
        // A name no earlier (cached) manifest knows, unless this row's names it.
        const QString name = row.manifest_version ? QStringLiteral("efis-9.bin") : QStringLiteral("local.bin");
        ASSERT_TRUE(write_file(path(name), file));
        DownloadServer server;
        env.downloads.manifest_url = kNoManifest;
        if (row.manifest_version != nullptr) {
            ASSERT_TRUE(server.put_manifest("C3", row.manifest_version, "efis-9.bin", file, {}, "db"));
            env.downloads.manifest_url = server.manifest_url();
        }
        std::atomic<int> flash_commands{0};  // prepare and erase commands
        bus.set_frame_observer([&](const vk61::BusFrame& frame) {
            const std::uint32_t base = frame.identifier() & 0x7F0;
            if (base == 0x730 || base == 0x430) ++flash_commands;
        });
        std::vector<std::string> args = {"firmware", "update", path(name).toStdString()};
        if (row.force) args.push_back("--force");
        const CliRun result = run(args);
        bus.set_frame_observer(nullptr);
        EXPECT_EQ(result.code, row.code) << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        if (row.code == 0) {
            expect_firmware_in_flash(file);
        } else {
            EXPECT_EQ(flash_commands.load(), 0);
        }
    }
}

TEST_F(CliTransfers, FetchVerifiesIntoTheCacheAndPrintsThePath) {
    const QByteArray file = firmware_image(0x20000, 3000, kImageOffset, 3);
    const QByteArray database = non_zero_bytes(4000, 5);
    DownloadServer server;
    ASSERT_TRUE(server.put_manifest("C3", "9.0.0", "efis-9.bin", file, {}, database));
    env.downloads.manifest_url = server.manifest_url();

    const CliRun manifest = run({"fetch", "manifest", "--json"});
    ASSERT_EQ(manifest.code, 0) << manifest.err;
    EXPECT_EQ(keys_of(manifest.json()), QStringList{"path"});
    EXPECT_TRUE(QFileInfo::exists(manifest.json()["path"].toString()));

    const CliRun firmware = run({"fetch", "firmware", "--device-id", "0xC3010000"});
    ASSERT_EQ(firmware.code, 0) << firmware.err;
    QFile fetched(QString::fromStdString(firmware.out).trimmed());
    ASSERT_TRUE(fetched.open(QIODevice::ReadOnly)) << firmware.out;
    EXPECT_EQ(fetched.readAll(), file);
    EXPECT_EQ(bus.host_frame_count(), 0u);  // a device id given: no bus needed

    const CliRun airports = run({"fetch", "airports", "--json"});
    ASSERT_EQ(airports.code, 0) << airports.err;
    QFile db(airports.json()["path"].toString());
    ASSERT_TRUE(db.open(QIODevice::ReadOnly));
    EXPECT_EQ(db.readAll(), database);
}

TEST_F(CliTransfers, DownloadFailuresExitFour) {
    DownloadServer server;
    // The manifest's digest does not match the file it names.
    ASSERT_TRUE(server.put_manifest("C3", "9.0.0", "efis-9.bin", firmware_image(0x20000, 300, kImageOffset),
                                    QString(64, 'a'), "db"));
    env.downloads.manifest_url = server.manifest_url();
    EXPECT_EQ(run({"fetch", "firmware", "--device-id", "0xC3010000"}).code, 4);
    EXPECT_EQ(run({"fetch", "firmware", "--device-id", "0xAB010000"}).code, 4);  // no package for the type
    env.downloads.manifest_url = kNoManifest;
    EXPECT_EQ(run({"fetch", "manifest"}).code, 4);
    EXPECT_EQ(run({"firmware", "update", "--fetch"}).code, 4);
}

TEST_F(CliTransfers, AirportsUploadReachesEveryUnit) {
    struct Case {
        std::vector<std::string> extra;
        std::string last;  // the last progress line, once, finished without a time left to guess
    };
    const std::vector<Case> cases = {
        {{}, "Writing  100%  70000 / 70000 bytes, 1094 / 1094 packets"},  // every unit at once: one bar
        {{"--one-at-a-time"}, "Unit 3 / 3 (UID 3): Writing  100%  70000 / 70000 bytes, 1094 / 1094 packets"},
    };
    std::uint8_t seed = 9;
    for (const Case& c : cases) {
        const QByteArray database = non_zero_bytes(70000, seed++);
        ASSERT_TRUE(write_file(path("airports.db"), database));
        std::vector<std::string> args{"airports", "upload", path("airports.db").toStdString(), "--json"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const CliRun result = run(args);
        ASSERT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(keys_of(result.json()), (QStringList{"file", "units_done", "units_total"}));
        EXPECT_EQ(result.json()["units_done"].toInt(), 3);
        for (std::uint8_t uid : bus.unit_uids()) {
            EXPECT_EQ(bus.flash_bytes(uid, 0, static_cast<std::size_t>(database.size())), bytes_of(database))
                << "UID " << unsigned{uid};
        }
        const std::size_t first = result.err.find(c.last);
        ASSERT_NE(first, std::string::npos) << result.err;
        EXPECT_EQ(result.err.find(c.last, first + 1), std::string::npos) << result.err;
        const std::string line = result.err.substr(first, result.err.find('\n', first) - first);
        EXPECT_TRUE(line.ends_with("done")) << line;
    }
    EXPECT_EQ(run({"airports", "upload", path("missing.db").toStdString()}).code, 2);
}

// An upload to every unit cut by a pulled cable at about 60 % of its chunks,
// then the next upload: the same file with --resume goes on from what the
// units confirmed (no block erased twice, at most one chunk per unit written
// again); another file, or a record that cannot be read, starts afresh and
// says so. Either way every unit ends up holding the file it was last given.
TEST_F(CliTransfers, AnInterruptedUploadResumesOnlyForTheSameFileAndUnits) {
    constexpr std::size_t kSize = 200000;  // 4 blocks, 3,125 chunks
    const QByteArray first = non_zero_bytes(kSize, 5);
    const QByteArray other = non_zero_bytes(kSize, 6);
    ASSERT_TRUE(write_file(path("first.db"), first));
    ASSERT_TRUE(write_file(path("other.db"), other));
    const QString record = vk61::airport_record_path();
    ASSERT_TRUE(record.startsWith(scratch.path())) << record.toStdString();
    struct Case {
        const char* name;
        const char* second_file;
        bool spoil_record;
        const char* says;  // on standard error
        bool resumed;      // no block erased twice, at most one chunk again
    };
    const Case cases[] = {
        {"same file", "first.db", false, "Resuming: An interrupted upload", true},
        {"other file", "other.db", false, "was of another file; this upload starts afresh", false},
        {"unreadable record", "first.db", true, "could not be read; this upload starts afresh", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bus.clear_faults();
        for (std::uint8_t uid : bus.unit_uids()) ASSERT_TRUE(bus.remove_unit(uid));
        sim::add_default_units(bus, 3);  // fresh units: erased flash, nothing counted
        // The cable comes out at the 1,875th chunk and is back 200 ms later.
        bus.add_fault({sim::FaultKind::PullCable, sim::ReplyKind::Any, 0x420, 0, 1875, 1, 200});
        const CliRun cut = run({"airports", "upload", path("first.db").toStdString()});
        ASSERT_EQ(cut.code, 1) << cut.err;
        ASSERT_TRUE(QFileInfo::exists(record)) << cut.err;
        if (c.spoil_record) {
            ASSERT_TRUE(write_file(record, "{\"format\": \"vk61-airport-upload\", \"vers"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));

        const CliRun again = run({"airports", "upload", path(c.second_file).toStdString(), "--resume"});
        ASSERT_EQ(again.code, 0) << again.err;
        EXPECT_NE(again.err.find(c.says), std::string::npos) << again.err;
        const QByteArray& expected = std::string(c.second_file) == "first.db" ? first : other;
        for (std::uint8_t uid : bus.unit_uids()) {
            SCOPED_TRACE("UID " + std::to_string(uid));
            EXPECT_EQ(bus.flash_bytes(uid, 0, kSize), bytes_of(expected));
            const sim::UnitStatus status = *bus.unit_status(uid);
            EXPECT_TRUE(status.db_open);
            if (c.resumed) {
                EXPECT_EQ(status.flash_faults.repeated_erases, 0u);
                EXPECT_LE(status.flash_faults.chunks_written_again, 1u);
            } else {
                EXPECT_EQ(status.flash_faults.repeated_erases, 4u);  // a fresh upload erases every block again
            }
        }
        EXPECT_FALSE(QFileInfo::exists(record)) << "the record goes once every unit holds the database";
    }
}

TEST_F(CliTransfers, RebootWaitsUntilTheUnitsAreHeardAgain) {
    bus.set_reboot_duration(std::chrono::milliseconds(500));
    const CliRun result = run({"reboot", "--wait", "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(keys_of(result.json()), (QStringList{"rebooted", "units_heard"}));
    EXPECT_EQ(result.json()["units_heard"].toArray().size(), 3);
    std::size_t reboots = 0;
    for (const sim::HostFrame& f : bus.host_frames()) reboots += f.frame.base() == 0x3B0 ? 1 : 0;
    EXPECT_EQ(reboots, 1u);
}

TEST_F(CliTransfers, RebootFailsWhenNoUnitComesBack) {
    bus.set_reboot_duration(std::chrono::milliseconds(60000));
    env.timings.reboot.checks = 5;
    const CliRun result = run({"reboot", "--wait"});
    EXPECT_EQ(result.code, 1) << result.err;
    EXPECT_NE(result.err.find("Devices did not reappear after reboot"), std::string::npos);
}

TEST_F(CliTransfers, AnInterruptDisconnectsAndFails) {
    bus.set_latency(std::chrono::microseconds(2000));  // a transfer of some seconds
    ASSERT_TRUE(write_file(path("airports.db"), non_zero_bytes(200000, 2)));
    std::atomic<bool> interrupted{false};
    env.interrupted = &interrupted;
    std::thread interrupter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        interrupted = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const CliRun result = run({"airports", "upload", path("airports.db").toStdString()});
    interrupter.join();
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("Interrupted"), std::string::npos) << result.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace clitest
