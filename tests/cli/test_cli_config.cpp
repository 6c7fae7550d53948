// list and the config commands, checked against what the simulated units
// hold.
#include <QDirIterator>
#include <QFileInfo>

#include "cli_test_support.h"
#include "config/config_file.h"

namespace clitest {
namespace {

using vk61::cli::CliEnvironment;

class CliConfig : public CliFixture {};

TEST_F(CliConfig, ListShowsEveryUnitInItsJsonShape) {
    const CliRun result = run({"list", "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    const QJsonArray units = result.json()["units"].toArray();
    ASSERT_EQ(units.size(), 3) << result.out;
    for (int i = 0; i < units.size(); ++i) {
        const QJsonObject unit = units[i].toObject();
        EXPECT_EQ(keys_of(unit), (QStringList{"connected", "firmware", "name", "serial", "uid", "update_available"}));
        EXPECT_EQ(unit["uid"].toInt(), i + 1);
        EXPECT_TRUE(unit["connected"].toBool());
        // No manifest: whether an update exists is not known.
        EXPECT_TRUE(unit["update_available"].isNull());
    }
    EXPECT_EQ(units[0].toObject()["serial"].toString(), QStringLiteral("0xC3010001"));
    EXPECT_EQ(units[0].toObject()["firmware"].toString(), QStringLiteral("1.4.2"));
}

TEST_F(CliConfig, ListTellsUpdatesFromTheManifest) {
    DownloadServer server;
    ASSERT_TRUE(server.put_manifest("C3", "9.0.0", "efis.bin", firmware_image(0x20000, 1000, 0x100), {}, "db"));
    env.downloads.manifest_url = server.manifest_url();
    const QJsonArray units = run({"list", "--json"}).json()["units"].toArray();
    ASSERT_EQ(units.size(), 3);
    EXPECT_EQ(units[0].toObject()["name"].toString(), QStringLiteral("EFIS Halvard"));
    EXPECT_TRUE(units[0].toObject()["update_available"].toBool());
    EXPECT_TRUE(units[1].toObject()["update_available"].isNull());  // no package for its type
}

TEST_F(CliConfig, WithoutABridgeEveryCommandExitsThree) {
    vhid::set_interfaces({});
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"list"}, {"config", "show"}, {"config", "set", "v_ne=170"}, {"reboot"}}) {
        const CliRun result = run(args);
        EXPECT_EQ(result.code, 3) << args[0] << ": " << result.err;
    }
    EXPECT_EQ(run({"list", "--json"}).json()["exit_code"].toInt(), 3);
}

// Refusals a script can act on: a usage error as JSON when --json asked for
// it, a bad airport database refused before the bus is opened, a bridge
// without units answering as "not connected".
TEST_F(CliConfig, RefusalsCarryTheirExitCodeAndSendNothing) {
    ASSERT_TRUE(write_file(path("empty.db"), QByteArray()));
    QFile big(path("big.db"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(54525952 + 1));
    big.close();
    ASSERT_TRUE(QDir().mkpath(path("folder.db")));
    struct Row {
        std::vector<std::string> args;
        int code;
        const char* says;  // in the JSON error object
    };
    const std::vector<Row> rows = {
        {{"config", "frobnicate", "--json"}, 2, "Unknown command \"frobnicate\" of config"},
        {{"--json", "firmware", "update", "a.bin", "--fetch"}, 2, "excludes"},
        {{"airports", "upload", path("empty.db").toStdString(), "--json"}, 2, "is empty"},
        {{"airports", "upload", path("big.db").toStdString(), "--json"}, 2, "at most 54525952"},
        {{"airports", "upload", path("folder.db").toStdString(), "--json"}, 2, "is not a file"},
    };
    for (const Row& row : rows) {
        const CliRun result = run(row.args);
        EXPECT_EQ(result.code, row.code) << row.args[1] << ": " << result.err;
        const QJsonObject json = result.json();
        EXPECT_EQ(keys_of(json), (QStringList{"error", "exit_code"})) << result.out;
        EXPECT_EQ(json["exit_code"].toInt(), row.code);
        EXPECT_TRUE(json["error"].toString().contains(row.says)) << json["error"].toString().toStdString();
    }
    EXPECT_EQ(bus.host_frame_count(), 0u);

    for (std::uint8_t uid : bus.unit_uids()) ASSERT_TRUE(bus.remove_unit(uid));
    EXPECT_EQ(run({"list"}).code, 3);
}

TEST_F(CliConfig, GetPrintsTheStoredValues) {
    // The EFIS holds 147 under a checksum that covers it.
    const unsigned v_ne = index_of("v_ne");
    ASSERT_TRUE(bus.set_ram_element(1, v_ne, 147));
    ASSERT_TRUE(bus.set_ram_element(1, 252, sim::config_image_crc(*bus.ram_image(1))));
    const CliRun result = run({"config", "get", "v_ne", "sky_color_upper"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, 4), "147\n");
    EXPECT_EQ(result.out[4], '#');

    const QJsonObject json = run({"config", "get", "v_ne", "--json"}).json();
    EXPECT_EQ(keys_of(json), (QStringList{"checksum_ok", "settings"}));
    EXPECT_EQ(json["settings"].toObject()["v_ne"].toInt(), 147);
    EXPECT_TRUE(json["checksum_ok"].toBool());

    // A record that does not match its checksum is shown, and the command fails.
    ASSERT_TRUE(bus.set_ram_element(1, v_ne, 148));
    const CliRun mismatch = run({"config", "get", "v_ne"});
    EXPECT_EQ(mismatch.code, 1);
    EXPECT_EQ(mismatch.out, "148\n");
    EXPECT_NE(mismatch.err.find("checksum"), std::string::npos) << mismatch.err;
}

TEST_F(CliConfig, ShowListsEverySettingOfTheCatalogue) {
    const CliRun result = run({"config", "show", "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    const QJsonObject settings = result.json()["settings"].toObject();
    EXPECT_EQ(settings.size(), static_cast<qsizetype>(vk61::settings_catalogue().size()));
    for (const vk61::SettingEntry& entry : vk61::settings_catalogue()) {
        EXPECT_TRUE(settings.contains(QString::fromUtf8(entry.name.data(), entry.name.size()))) << entry.name;
    }
}

TEST_F(CliConfig, SetStoresOnEveryUnitUnderAMatchingChecksumAfterABackup) {
    const CliRun result = run({"config", "set", "v_ne=170", "sky_color_upper=#102030", "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    const unsigned colour = index_of("sky_color_upper");
    for (std::uint8_t uid : bus.unit_uids()) {
        EXPECT_EQ(stored(uid, index_of("v_ne")), 170u) << "UID " << unsigned{uid};
        EXPECT_EQ(stored(uid, colour) & 0xFFFFFFu, 0x102030u) << "UID " << unsigned{uid};
    }
    expect_stored_checksums_match();
    const QJsonObject json = result.json();
    EXPECT_EQ(keys_of(json), (QStringList{"backup", "changed", "checksum", "stored"}));
    EXPECT_EQ(json["checksum"].toString(),
              QStringLiteral("0x") + QString::number(stored(1, 252), 16).rightJustified(8, '0').toUpper());
    // The backup holds what the EFIS held before the store.
    QFile backup(json["backup"].toString());
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly)) << json["backup"].toString().toStdString();
    QString error;
    const auto file = vk61::read_config_file(backup.readAll(), &error);
    ASSERT_TRUE(file) << error.toStdString();
    EXPECT_NE(vk61::config_get_value(file->settings, index_of("v_ne")), 170u);
    EXPECT_EQ(file->reason, QStringLiteral("before Save"));
}

TEST_F(CliConfig, SetOfTheValuesHeldStoresNothing) {
    const std::uint32_t v_ne = stored(1, index_of("v_ne"));
    const std::uint32_t checksum = stored(1, 252);
    const CliRun result = run({"config", "set", "v_ne=" + std::to_string(v_ne), "--json"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_FALSE(result.json()["stored"].toBool());
    EXPECT_EQ(stored(1, 252), checksum);
    EXPECT_TRUE(QDir(backups.path()).entryList(QDir::AllDirs | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(CliConfig, BadSettingsAreRefusedBeforeAnythingIsSent) {
    const std::uint32_t v_ne_before = stored(1, index_of("v_ne"));
    for (const auto& args : std::vector<std::vector<std::string>>{{"config", "set", "v_ne=999"},
                                                                  {"config", "set", "v_ne=170", "no_such_setting=1"},
                                                                  {"config", "set", "sky_color_upper=blue"},
                                                                  {"config", "set", "v_ne"},
                                                                  {"config", "get", "no_such_setting"},
                                                                  {"config", "frobnicate"},
                                                                  {"firmware", "update"}}) {
        const CliRun result = run(args);
        EXPECT_EQ(result.code, 2) << args.back() << ": " << result.err;
    }
    EXPECT_EQ(bus.host_frame_count(), 0u);
    EXPECT_EQ(stored(1, index_of("v_ne")), v_ne_before);
    const QJsonObject json = run({"config", "set", "v_ne=999", "--json"}).json();
    EXPECT_EQ(keys_of(json), (QStringList{"error", "exit_code"}));
    EXPECT_TRUE(json["error"].toString().contains("v_ne"));
}

TEST_F(CliConfig, ExportWritesTheStoredConfiguration) {
    // "-" is standard output, never a file of that name.
    for (const QString& target : {path("efis.json"), QStringLiteral("-")}) {
        const bool to_stdout = target == QStringLiteral("-");
        const CliRun result = run({"config", "export", target.toStdString(), "--json"});
        ASSERT_EQ(result.code, 0) << result.err;
        QByteArray bytes = QByteArray::fromStdString(result.out);
        if (!to_stdout) {
            EXPECT_EQ(keys_of(result.json()), (QStringList{"path", "serial"}));
            QFile in(target);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            bytes = in.readAll();
        }
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("-")));
        QString error;
        const auto file = vk61::read_config_file(bytes, &error);
        ASSERT_TRUE(file) << target.toStdString() << ": " << error.toStdString();
        EXPECT_TRUE(file->present.all());
        EXPECT_EQ(file->efis.serial, QStringLiteral("0xC3010001"));
        for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
            EXPECT_EQ(vk61::config_get_value(file->settings, index), stored(1, index)) << "index " << index;
        }
    }
}

TEST_F(CliConfig, ImportPreviewsThenApplies) {
    ASSERT_EQ(run({"config", "export", path("efis.json").toStdString()}).code, 0);
    QFile file(path("efis.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonObject document = QJsonDocument::fromJson(file.readAll()).object();
    QJsonObject settings = document["settings"].toObject();
    settings["v_ne"] = 181;
    settings["v_n0"] = 150;
    document["settings"] = settings;
    ASSERT_TRUE(write_file(path("changed.json"), QJsonDocument(document).toJson()));

    const CliRun preview = run({"config", "import", path("changed.json").toStdString(), "--dry-run", "--json"});
    ASSERT_EQ(preview.code, 0) << preview.err;
    EXPECT_EQ(keys_of(preview.json()), (QStringList{"applied", "changes", "checksum", "file"}));
    EXPECT_FALSE(preview.json()["applied"].toBool());
    const QJsonArray changes = preview.json()["changes"].toArray();
    ASSERT_EQ(changes.size(), 2);
    // In catalogue order: v_n0 (index 5), then v_ne (6).
    EXPECT_EQ(changes[1].toObject()["setting"].toString(), QStringLiteral("v_ne"));
    EXPECT_EQ(changes[1].toObject()["file"].toInt(), 181);
    EXPECT_EQ(changes[1].toObject()["efis"].toInt(), static_cast<int>(stored(1, index_of("v_ne"))));
    EXPECT_NE(stored(1, index_of("v_ne")), 181u);

    const CliRun table = run({"config", "import", path("changed.json").toStdString(), "--dry-run"});
    EXPECT_NE(table.out.find("On the EFIS"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("v_ne"), std::string::npos);

    const CliRun applied = run({"config", "import", path("changed.json").toStdString()});
    ASSERT_EQ(applied.code, 0) << applied.err;
    for (std::uint8_t uid : bus.unit_uids()) {
        EXPECT_EQ(stored(uid, index_of("v_ne")), 181u);
        EXPECT_EQ(stored(uid, index_of("v_n0")), 150u);
    }
    expect_stored_checksums_match();
}

TEST_F(CliConfig, MalformedFilesAreRefusedBeforeAnythingIsSent) {
    ASSERT_TRUE(write_file(path("broken.json"), "{\"format\": \"vk61-efis-configuration\", "));
    ASSERT_TRUE(write_file(path("unknown.json"),
                           R"({"format": "vk61-efis-configuration", "format_version": 1, "settings": {"warp": 9}})"));
    // A good export padded past what a configuration file can be is not read.
    ASSERT_EQ(run({"config", "export", path("oversized.json").toStdString()}).code, 0);
    QFile padded(path("oversized.json"));
    ASSERT_TRUE(padded.open(QIODevice::Append));
    ASSERT_EQ(padded.write(QByteArray(1024 * 1024, ' ')), 1024 * 1024);
    padded.close();
    bus.clear_host_frames();
    for (const QString& name : {QStringLiteral("broken.json"), QStringLiteral("unknown.json"),
                                QStringLiteral("missing.json"), QStringLiteral("oversized.json")}) {
        EXPECT_EQ(run({"config", "import", path(name).toStdString()}).code, 2) << name.toStdString();
    }
    EXPECT_EQ(bus.host_frame_count(), 0u);
}

// Host frames of a command base since the last clear: 0x390 writes, 0x3A0 stores.
std::size_t frames_of(const sim::Installation& bus, std::uint16_t base) {
    std::size_t count = 0;
    for (const sim::HostFrame& sent : bus.host_frames()) {
        if ((sent.frame.identifier() & 0x7F0u) == base) ++count;
    }
    return count;
}

QByteArray read_all(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Values no unit can use and broken rules of the whole record: refused by
// config set and by config import alike, and nothing is written or stored.
TEST_F(CliConfig, ValuesAndRulesNoUnitMayHoldAreRefusedAndNothingIsSent) {
    ASSERT_EQ(run({"config", "export", path("efis.json").toStdString()}).code, 0);
    const QJsonObject exported = QJsonDocument::fromJson(read_all(path("efis.json"))).object();
    struct Row {
        const char* what;
        std::vector<std::string> set;  // the command line's assignments
        const char* name;              // the file's setting
        const char* json;              // its value; null: the setting given twice in the file
        const char* says;
    };
    const Row rows[] = {
        {"three terminators", {"termination_uids=[1,2,4]"}, "termination_uids", "[1, 2, 4]", "only two devices"},
        {"a UID above 15", {"termination_uids=[31]"}, "termination_uids", "[31]", "out of range"},
        {"a NaN correction", {"roll_correction=0x7FC00000"}, "roll_correction", "\"0x7FC00000\"", "NaN"},
        {"an infinite correction", {"pitch_correction=0xFF800000"}, "pitch_correction", "\"0xFF800000\"", "infinite"},
        {"an ICAO address of 8 digits", {"ownship_icao=FFFFFFFF"}, "ownship_icao", "\"FFFFFFFF\"", "6 hex digits"},
        {"a screen beyond the list", {"default_screens={\"2\":6}"}, "default_screens", "{\"2\": 6}", "UID 2"},
        {"one setting twice", {"v_ne=170", "v_ne=171"}, "v_ne", nullptr, "twice"},
    };
    std::vector<sim::ConfigImage> before;
    for (std::uint8_t uid : bus.unit_uids()) before.push_back(*bus.eeprom_image(uid));
    for (const Row& row : rows) {
        QByteArray file;
        if (row.json) {
            QJsonObject document = exported;
            QJsonObject settings = document["settings"].toObject();
            settings[row.name] = QJsonDocument::fromJson(QByteArray("{\"v\": ") + row.json + "}").object()["v"];
            document["settings"] = settings;
            file = QJsonDocument(document).toJson();
        } else {
            file = QJsonDocument(exported).toJson();
            file.replace("\"settings\": {", QByteArray("\"settings\": {\n        \"") + row.name + "\": 171,");
        }
        ASSERT_TRUE(write_file(path("bad.json"), file));

        std::vector<std::string> set_args{"config", "set"};
        set_args.insert(set_args.end(), row.set.begin(), row.set.end());
        for (const auto& args :
             {set_args, std::vector<std::string>{"config", "import", path("bad.json").toStdString()}}) {
            bus.clear_host_frames();
            const CliRun result = run(args);
            EXPECT_EQ(result.code, 2) << row.what << ", " << args[1] << ": " << result.err;
            EXPECT_NE(result.err.find(row.says), std::string::npos)
                << row.what << ", " << args[1] << ": " << result.err;
            EXPECT_EQ(frames_of(bus, 0x390), 0u) << row.what << ", " << args[1];
            EXPECT_EQ(frames_of(bus, 0x3A0), 0u) << row.what << ", " << args[1];
        }
    }
    std::size_t unit = 0;
    for (std::uint8_t uid : bus.unit_uids())
        EXPECT_EQ(*bus.eeprom_image(uid), before[unit++]) << "UID " << unsigned{uid};
}

// A config set whose write fails half-way: what it had written is written
// back, so the next store stores nothing of it; when even the write-back is
// lost, the next store refuses the units' unstored working values.
TEST_F(CliConfig, AFailedSetLeavesNothingForTheNextStore) {
    const unsigned v_s0 = index_of("v_s0");
    const unsigned v_ne = index_of("v_ne");
    const unsigned v_lo = index_of("v_lo");
    const sim::Fault lose_v_ne{sim::FaultKind::LoseHostFrame, sim::ReplyKind::Any, 0x390, 0, 0, 0, 0,
                               static_cast<int>(v_ne)};
    // v_s0's own write passes; its write-back is lost.
    const sim::Fault lose_v_s0_back{sim::FaultKind::LoseHostFrame, sim::ReplyKind::Any, 0x390, 0, 1, 0, 0,
                                    static_cast<int>(v_s0)};
    struct Row {
        const char* what;
        std::vector<sim::Fault> faults;
        const char* says;  // in the failed command's message
        int next_code;     // of the good command after it
        std::string next_v_lo;
    };
    const Row rows[] = {
        {"written back", {lose_v_ne}, "were written back", 0, "99"},
        {"write-back lost", {lose_v_ne, lose_v_s0_back}, "differ from what the EFIS stored", 2, "98"},
    };
    const std::uint32_t v_s0_stored = stored(1, v_s0);
    const std::uint32_t v_ne_stored = stored(1, v_ne);
    ASSERT_NE(v_s0_stored, 50u);
    ASSERT_NE(v_ne_stored, 170u);
    for (const Row& row : rows) {
        const std::uint32_t v_lo_before = stored(1, v_lo);
        for (const sim::Fault& fault : row.faults) bus.add_fault(fault);
        const CliRun failed = run({"config", "set", "v_s0=50", "v_ne=170"});
        EXPECT_EQ(failed.code, 1) << row.what << ": " << failed.err;
        EXPECT_NE(failed.err.find(row.says), std::string::npos) << row.what << ": " << failed.err;
        bus.clear_faults();

        const CliRun next = run({"config", "set", "v_lo=" + row.next_v_lo});
        EXPECT_EQ(next.code, row.next_code) << row.what << ": " << next.err;
        for (std::uint8_t uid : bus.unit_uids()) {
            EXPECT_EQ(stored(uid, v_s0), v_s0_stored) << row.what << ", UID " << unsigned{uid};
            EXPECT_EQ(stored(uid, v_ne), v_ne_stored) << row.what << ", UID " << unsigned{uid};
            EXPECT_EQ(stored(uid, v_lo), row.next_code == 0 ? std::stoul(row.next_v_lo) : v_lo_before)
                << row.what << ", UID " << unsigned{uid};
        }
        expect_stored_checksums_match();
    }
}

// The automatic backup is skipped as identical to the newest one only when
// both the settings and the memory version match.
TEST_F(CliConfig, ABackupIsSkippedOnlyWhenSettingsAndMemoryVersionMatch) {
    struct Row {
        const char* what;
        bool new_memory_version;
        int backups;
    };
    const Row rows[] = {{"same memory version", false, 1}, {"another memory version", true, 2}};
    const unsigned v_ne = index_of("v_ne");
    for (const Row& row : rows) {
        QTemporaryDir folder;
        env.backup_root = folder.path();
        const std::uint32_t original = stored(1, v_ne);
        const std::uint32_t memory_version = stored(1, 254);
        const std::string set = "v_ne=" + std::to_string(original == 170 ? 171 : 170);
        ASSERT_EQ(run({"config", "set", set}).code, 0) << row.what;
        // The units are given back the settings of the first backup.
        for (std::uint8_t uid : bus.unit_uids()) {
            bus.set_eeprom_element(uid, v_ne, original);
            if (row.new_memory_version) bus.set_eeprom_element(uid, 254, memory_version + 1);
            bus.set_eeprom_element(uid, 252, sim::config_image_crc(*bus.eeprom_image(uid)));
            for (unsigned index : {v_ne, 254u, 252u}) bus.set_ram_element(uid, index, stored(uid, index));
        }
        ASSERT_EQ(run({"config", "set", set}).code, 0) << row.what;
        int files = 0;
        for (QDirIterator it(folder.path(), {"*.json"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
             it.next()) {
            ++files;
        }
        EXPECT_EQ(files, row.backups) << row.what;
    }
}

// An EFIS whose configuration memory is erased takes a whole file as its
// first configuration: the preview shows every setting as new, the import
// writes the header and every setting, stores and reads the checksum back.
TEST_F(CliConfig, AnErasedEfisTakesAWholeFileAsItsFirstConfiguration) {
    ASSERT_EQ(run({"config", "export", path("efis.json").toStdString()}).code, 0);
    const sim::ConfigImage exported = *bus.eeprom_image(1);
    for (std::uint8_t uid : bus.unit_uids()) {
        for (unsigned index : {252u, 253u, 254u, 255u}) {
            bus.set_eeprom_element(uid, index, 0xFFFFFFFFu);
            bus.set_ram_element(uid, index, 0xFFFFFFFFu);
        }
        for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
            bus.set_eeprom_element(uid, index, 0xFFFFFFFFu);
            bus.set_ram_element(uid, index, 0xFFFFFFFFu);
        }
    }
    struct Row {
        const char* what;
        bool dry_run;
    };
    for (const Row& row : {Row{"dry run", true}, Row{"import", false}}) {
        std::vector<std::string> args{"config", "import", path("efis.json").toStdString(), "--json"};
        if (row.dry_run) args.push_back("--dry-run");
        const CliRun result = run(args);
        ASSERT_EQ(result.code, 0) << row.what << ": " << result.err;
        const QJsonArray changes = result.json()["changes"].toArray();
        EXPECT_EQ(changes.size(), static_cast<qsizetype>(vk61::settings_catalogue().size())) << row.what;
        for (const QJsonValue& change : changes) EXPECT_TRUE(change.toObject()["efis"].isNull()) << row.what;
        EXPECT_EQ(result.json()["applied"].toBool(), !row.dry_run) << row.what;
        for (std::uint8_t uid : bus.unit_uids()) {
            if (row.dry_run) {
                EXPECT_EQ(stored(uid, 252), 0xFFFFFFFFu) << row.what << ", UID " << unsigned{uid};
                continue;
            }
            for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
                EXPECT_EQ(stored(uid, index), *sim::config_element(exported, index))
                    << row.what << ", UID " << unsigned{uid} << ", index " << index;
            }
            EXPECT_EQ(stored(uid, 253), sim::kConfigMagic) << "UID " << unsigned{uid};
            EXPECT_EQ(stored(uid, 254), *sim::config_element(exported, 254)) << "UID " << unsigned{uid};
            EXPECT_EQ(stored(uid, 255), sim::kConfigWords) << "UID " << unsigned{uid};
        }
    }
    expect_stored_checksums_match();
    EXPECT_EQ(run({"config", "show"}).code, 0);
}

}  // namespace
}  // namespace clitest
