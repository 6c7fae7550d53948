// firmware update --reboot [--restore]: the configuration after the update
// compared with the backup taken before it, checked by what the simulated
// units store in their EEPROM.
#include "cli_test_support.h"
#include "default_config.h"

namespace clitest {
namespace {

constexpr std::uint32_t kImageOffset = 0x100;

class CliUpdateCheck : public CliFixture {
protected:
    // What the firmware does in these tests: every unit's EEPROM (the
    // configuration a reboot loads) holds value at index, with a checksum
    // that matches, while the working values keep what was there before.
    void change_stored_setting(unsigned index, std::uint32_t value) {
        for (std::uint8_t uid : bus.unit_uids()) {
            ASSERT_TRUE(bus.set_eeprom_element(uid, index, value));
            ASSERT_TRUE(bus.set_eeprom_element(uid, 252, sim::config_image_crc(*bus.eeprom_image(uid))));
        }
    }
    // RAM and EEPROM of every unit back to the factory configuration.
    void reset_configuration() {
        const sim::ConfigImage image = sim::default_config_image();
        for (std::uint8_t uid : bus.unit_uids()) {
            for (unsigned index = 0; index < 256; ++index) {
                if (const auto value = sim::config_element(image, index)) {
                    bus.set_ram_element(uid, index, *value);
                    bus.set_eeprom_element(uid, index, *value);
                }
            }
        }
    }
    std::size_t frames_of(std::uint16_t base) const {
        std::size_t count = 0;
        for (const sim::HostFrame& f : bus.host_frames()) count += f.frame.base() == base ? 1 : 0;
        return count;
    }
};

TEST_F(CliUpdateCheck, TheConfigurationAfterTheUpdateIsComparedWithTheBackup) {
    const unsigned v_ne = index_of("v_ne");
    const std::uint32_t before = stored(1, v_ne);
    const std::uint32_t changed = before == 150 ? 151 : 150;
    struct Row {
        const char* name;
        bool firmware_changes_v_ne;
        std::vector<std::string> options;
        int code;
        std::string says;          // on standard output or standard error
        QJsonArray differences;    // --json only
        std::uint32_t v_ne_after;  // in every unit's EEPROM
        std::size_t reboots;
        std::size_t stores;
    };
    const QJsonArray one_difference{
        QJsonObject{{"setting", "v_ne"}, {"backup", static_cast<int>(before)}, {"now", static_cast<int>(changed)}}};
    const std::vector<Row> table = {
        {"unchanged", false, {"--reboot"}, 0, "Configuration unchanged by the update", {}, before, 1, 0},
        {"unchanged, json", false, {"--reboot", "--json"}, 0, "", QJsonArray{}, before, 1, 0},
        {"changed, listed",
         true,
         {"--reboot"},
         0,
         "v_ne                          " + std::to_string(before),
         {},
         changed,
         1,
         0},
        {"changed, listed as json", true, {"--reboot", "--json"}, 0, "", one_difference, changed, 1, 0},
        {"changed, restored", true, {"--reboot", "--restore"}, 0, "Configuration restored from", {}, before, 1, 1},
        {"changed, restored, json", true, {"--reboot", "--restore", "--json"}, 0, "", one_difference, before, 1, 1},
        {"restore without reboot", true, {"--restore"}, 2, "--reboot", {}, changed, 0, 0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        reset_configuration();
        bus.set_reboot_duration(std::chrono::milliseconds(200));
        bus.clear_host_frames();
        if (row.firmware_changes_v_ne) change_stored_setting(v_ne, changed);
        ASSERT_TRUE(write_file(path("efis.bin"), firmware_image(0x20000, 3000, kImageOffset)));
        std::vector<std::string> args = {"firmware", "update", path("efis.bin").toStdString()};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const CliRun result = run(args);
        EXPECT_EQ(result.code, row.code) << result.err;
        EXPECT_NE((result.out + result.err).find(row.says), std::string::npos) << result.out << result.err;
        if (std::find(row.options.begin(), row.options.end(), "--json") != row.options.end()) {
            EXPECT_EQ(result.json()["differences"].toArray(), row.differences) << result.out;
            EXPECT_EQ(result.json()["restored"].toBool(), row.stores > 0) << result.out;
        }
        for (std::uint8_t uid : bus.unit_uids())
            EXPECT_EQ(stored(uid, v_ne), row.v_ne_after) << "UID " << unsigned{uid};
        expect_stored_checksums_match();
        EXPECT_EQ(frames_of(0x3B0), row.reboots);
        EXPECT_EQ(frames_of(0x3A0), row.stores);
    }
}

// The comparison is not made when it cannot be trusted, and the message says
// why; the update itself has happened.
TEST_F(CliUpdateCheck, WithoutABackupOrAUnitTheConfigurationIsNotCompared) {
    struct Row {
        const char* name;
        bool no_backup;
        std::chrono::milliseconds reboot_duration;
        int checks;
        bool unit_3_leaves;  // taken off the bus once the reboot command went out
        std::string says;
    };
    const std::vector<Row> rows = {
        {"no backup", true, std::chrono::milliseconds(200), 5, false, "nothing can be compared"},
        // The others are back long before the wait's last check.
        {"one unit not back", false, std::chrono::milliseconds(200), 20, true,
         "Not every unit came back after the reboot (UID 3 did not answer)"},
        // Last: its units stay silent for the rest of the test.
        {"no unit back", false, std::chrono::milliseconds(60000), 5, false,
         "Not every unit came back after the reboot (UID 1, 2 did not answer)"},
    };
    const unsigned v_ne = index_of("v_ne");
    const std::uint32_t before = stored(1, v_ne);
    change_stored_setting(v_ne, before == 150 ? 151 : 150);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A file where the backup folder should be: no backup can be written.
        ASSERT_TRUE(write_file(path("not-a-folder"), "x"));
        env.backup_root = row.no_backup ? path("not-a-folder") : backups.path();
        env.timings.reboot.checks = row.checks;
        bus.set_reboot_duration(row.reboot_duration);
        ASSERT_TRUE(write_file(path("efis.bin"), firmware_image(0x20000, 3000, kImageOffset)));
        bus.clear_host_frames();
        std::thread leaver;
        if (row.unit_3_leaves) {
            leaver = std::thread([this] {
                if (bus.wait_until([this] { return frames_of(0x3B0) > 0; }, std::chrono::milliseconds(30000)))
                    bus.remove_unit(3);
            });
        }
        const CliRun result = run({"firmware", "update", path("efis.bin").toStdString(), "--reboot", "--restore"});
        if (leaver.joinable()) leaver.join();
        EXPECT_EQ(result.code, 1) << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("Firmware upload complete"), 0u) << result.out;
        EXPECT_EQ(frames_of(0x3A0), 0u);  // nothing was stored
    }
}

}  // namespace
}  // namespace clitest
