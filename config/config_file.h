// A configuration file: the EFIS settings by catalogue name as pretty-printed
// UTF-8 JSON, with the format name and version, when and by which tool it
// was written, why (an export, or the backup before a store), and the EFIS it
// came from.
//
// Reading checks the whole file before anyone may act on it: an unknown
// name, a value out of range or malformed refuses the file with a message
// that names the setting. A file may leave settings out; they are not part of
// what it restores.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <bitset>
#include <cstdint>
#include <optional>
#include <vector>

#include "config_model.h"
#include "config_record.h"
#include "record_rules.h"
#include "settings_catalogue.h"

namespace vk61 {

inline constexpr char kConfigFileFormat[] = "vk61-efis-configuration";
inline constexpr int kConfigFileVersion = 1;

struct ConfigFileOrigin {
    QString serial;    // the EFIS's serial number (device id) as the devices table shows it
    QString firmware;  // "1.4.2"
    std::optional<std::uint32_t> memory_version;
};

struct ConfigFile {
    QDateTime created;  // UTC
    QString tool;       // "vk61-efis-config 0.1.0"
    QString reason;     // "export", "before Save", ...
    ConfigFileOrigin efis;
    // The settings did not match the checksum the EFIS had stored: they are
    // the EFIS's working values, some of which a reboot would have discarded.
    bool unstored_values = false;
    // The file's settings; indices the file does not set hold 0 and are not
    // in `present`.
    ConfigRecord settings;
    std::bitset<kSettingCount> present;

    bool has(const SettingEntry& entry) const { return present.test(entry.first_index); }
};

// Every setting of file.settings, whatever `present` says.
QByteArray write_config_file(const ConfigFile& file);

// The file, or nullopt with *error saying what is wrong (the setting's name
// for a bad setting).
std::optional<ConfigFile> read_config_file(const QByteArray& bytes, QString* error);

// A configuration file is a couple of kilobytes; anything past this is not
// one, and is refused before it is read into memory.
inline constexpr qint64 kMaxConfigFileBytes = 1024 * 1024;

// The file at path, read once and at most kMaxConfigFileBytes of it; nullopt
// with *error saying why (cannot be opened, too large, or what
// read_config_file says). Every front end's import and restore reads here.
std::optional<ConfigFile> load_config_file(const QString& path, QString* error);

// The settings the file holds with another value than efis, in catalogue
// order.
std::vector<const SettingEntry*> changed_settings(const ConfigFile& file, const ConfigRecord& efis);

// efis with every setting the file holds put in.
ConfigRecord with_file_settings(const ConfigFile& file, const ConfigRecord& efis);

// Why the file may not be stored on an EFIS that holds efis (none: nothing
// usable, as on an erased EFIS), by the rules every store keeps.
std::optional<RuleRefusal> import_refusal(const ConfigFile& file, const ConfigRecord* efis);

// Whether the two files hold the same settings (present and values).
bool same_settings(const ConfigFile& a, const ConfigFile& b);

}  // namespace vk61
