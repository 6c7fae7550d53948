// firmware update, airports upload, fetch and reboot, checked by what the
// simulated units hold in flash and by the files in the cache.
#include <QFileInfo>

#include "cli_test_support.h"

namespace clitest {
namespace {

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
    const CliRun result = run({"firmware", "update", "--fetch"});
    ASSERT_EQ(result.code, 0) << result.err;
    expect_firmware_in_flash(file);
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
    const QByteArray database = non_zero_bytes(70000, 9);
    ASSERT_TRUE(write_file(path("airports.db"), database));
    const CliRun result = run({"airports", "upload", path("airports.db").toStdString(), "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(keys_of(result.json()), (QStringList{"file", "units_done", "units_total"}));
    EXPECT_EQ(result.json()["units_done"].toInt(), 3);
    for (std::uint8_t uid : bus.unit_uids()) {
        EXPECT_EQ(bus.flash_bytes(uid, 0, static_cast<std::size_t>(database.size())), bytes_of(database))
            << "UID " << unsigned{uid};
    }
    EXPECT_EQ(run({"airports", "upload", path("missing.db").toStdString()}).code, 2);
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
