// config show, get, set, export and import: the configuration model, the
// exchange and the file format the window uses, with the same rules (see
// EfisConfiguration).
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <map>

#include "bus_task.h"
#include "commands.h"
#include "comms_manager.h"
#include "config/config_file.h"
#include "config_text.h"
#include "config/record_rules.h"
#include "core/configuration_snapshot.h"
#include "efis_configuration.h"
#include "core/store_texts.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "result_exit.h"
#include "files/checked_file_writer.h"

namespace vk61::cli {

namespace {

bool entry_known(const ConfigModel& model, const SettingEntry& entry) {
    for (unsigned i = 0; i < entry.index_count; ++i) {
        if (!model.is_known(entry.first_index + i)) return false;
    }
    return true;
}

// An EFIS whose EEPROM is erased takes a whole file as its first
// configuration: every setting is new, every one is written, with the header
// words the file's memory version gives.
int import_first_configuration(const Context& context, EfisConfiguration& efis, const ConfigFile& file,
                               const QString& source, const ImportOptions& options) {
    if (const auto refused = firstConfigurationRefusal(file, source)) {
        return context.fail(kExitBadInput, refusedText(*refused));
    }
    QJsonArray rows;
    context.say(QStringLiteral("%1  %2  %3")
                    .arg(QStringLiteral("Setting"), -28)
                    .arg(QStringLiteral("On the EFIS"), -24)
                    .arg(QStringLiteral("In the file")));
    for (const SettingEntry& entry : settings_catalogue()) {
        rows.append(QJsonObject{{"setting", name_of(entry)},
                                {"efis", QJsonValue(QJsonValue::Null)},
                                {"file", setting_to_json(entry, file.settings)}});
        context.say(QStringLiteral("%1  %2  %3")
                        .arg(name_of(entry), -28)
                        .arg(QStringLiteral("(erased)"), -24)
                        .arg(setting_display_text(entry, file.settings)));
    }
    const auto report = [&](bool applied, const QJsonValue& checksum) {
        if (context.json) {
            context.print_json(
                QJsonObject{{"file", source}, {"changes", rows}, {"applied", applied}, {"checksum", checksum}});
        }
    };
    if (options.dry_run) {
        report(false, QJsonValue(QJsonValue::Null));
        context.say(QStringLiteral("Dry run: the EFIS is erased; all %1 settings would be written; nothing was sent")
                        .arg(rows.size()));
        return kExitOk;
    }
    std::uint32_t crc = 0;
    if (const int code = efis.store_first(file.settings, *file.efis.memory_version, &crc); code != kExitOk) return code;
    if (const int code = efis.load(true); code != kExitOk) return code;
    if (!efis.crc_ok() || !changed_settings(file, efis.model().record()).empty()) {
        return context.fail(kExitBusFailure,
                            QStringLiteral("The EFIS does not hold the file's settings after the store"));
    }
    report(true, hex32(crc));
    context.say(firstConfigurationStoredText(source, static_cast<std::size_t>(rows.size())));
    return kExitOk;
}

}  // namespace

int run_config_show(const Context& context) {
    EfisConfiguration efis(context);
    if (const int code = efis.open_and_load(false); code != kExitOk) return code;
    QJsonObject settings;
    bool complete = true;
    for (const SettingEntry& entry : settings_catalogue()) {
        const bool known = entry_known(efis.model(), entry);
        complete = complete && known;
        const QJsonValue value = known ? setting_to_json(entry, efis.model().record()) : QJsonValue(QJsonValue::Null);
        settings.insert(name_of(entry), value);
        context.say(QStringLiteral("%1  %2")
                        .arg(name_of(entry), -28)
                        .arg(known ? json_value_text(value) : QStringLiteral("(not read)")));
    }
    if (context.json) {
        context.print_json(QJsonObject{{"settings", settings},
                                       {"checksum", hex32(efis.model().device_checksum())},
                                       {"checksum_ok", efis.crc_ok()}});
    }
    return complete && efis.crc_ok() ? kExitOk : kExitBusFailure;
}

int run_config_get(const Context& context, const std::vector<std::string>& names) {
    std::vector<const SettingEntry*> entries;
    for (const std::string& name : names) {
        const SettingEntry* entry = find_setting(name);
        if (entry == nullptr) {
            return context.fail(kExitBadInput,
                                QStringLiteral("Unknown setting \"%1\"").arg(QString::fromStdString(name)));
        }
        entries.push_back(entry);
    }
    EfisConfiguration efis(context);
    if (const int code = efis.open_and_load(false); code != kExitOk) return code;
    QJsonObject settings;
    bool complete = true;
    for (const SettingEntry* entry : entries) {
        const bool known = entry_known(efis.model(), *entry);
        complete = complete && known;
        const QJsonValue value = known ? setting_to_json(*entry, efis.model().record()) : QJsonValue(QJsonValue::Null);
        settings.insert(name_of(*entry), value);
        if (!known) context.warn(QStringLiteral("%1 could not be read").arg(name_of(*entry)));
        context.say(known ? json_value_text(value) : QString());
    }
    if (context.json) context.print_json(QJsonObject{{"settings", settings}, {"checksum_ok", efis.crc_ok()}});
    return complete && efis.crc_ok() ? kExitOk : kExitBusFailure;
}

int run_config_set(const Context& context, const std::vector<std::string>& assignments, bool include_unstored) {
    // Every value is checked before the bus is opened.
    std::vector<Assignment> parsed;
    for (const std::string& text : assignments) {
        QString error;
        const std::optional<Assignment> assignment = parse_assignment(text, &error);
        if (!assignment) return context.fail(kExitBadInput, error + QStringLiteral(". Nothing was sent"));
        // The last of two would win silently, and the first was meant too.
        for (const Assignment& earlier : parsed) {
            if (earlier.entry == assignment->entry) {
                return context.fail(
                    kExitBadInput,
                    QStringLiteral("Setting \"%1\" is given twice. Nothing was sent").arg(name_of(*assignment->entry)));
            }
        }
        parsed.push_back(*assignment);
    }

    EfisConfiguration efis(context);
    if (const int code = efis.open_and_load(true); code != kExitOk) return code;
    ConfigRecord wanted = efis.model().record();
    for (const Assignment& assignment : parsed) {
        QString error;
        if (!setting_from_json(*assignment.entry, assignment.value, wanted, &error, ValueRange::Entry)) {
            return context.fail(kExitBadInput, error + QStringLiteral(". Nothing was sent"));
        }
    }
    if (const auto refused = check_store(wanted, &efis.model().record(), ValueRange::Entry)) {
        return context.fail(kExitBadInput, refused->message + QStringLiteral(". Nothing was sent"));
    }
    QJsonArray changed;
    for (const Assignment& assignment : parsed) {
        if (!setting_equal(*assignment.entry, wanted, efis.model().record()))
            changed.append(name_of(*assignment.entry));
        edit_entry(efis.model(), *assignment.entry, wanted);
    }
    if (efis.model().pending().empty()) {
        if (context.json) context.print_json(QJsonObject{{"changed", changed}, {"stored", false}});
        context.say(QStringLiteral("The EFIS already holds these values; nothing was sent"));
        return kExitOk;
    }
    if (const int code = efis.refuse_unstored(include_unstored); code != kExitOk) return code;
    // The backup holds what the EFIS confirmed, without the edits above.
    const QString backup = efis.backup(QStringLiteral("before Save"));
    std::uint32_t crc = 0;
    if (const int code = efis.store(&crc); code != kExitOk) return code;
    if (context.json) {
        context.print_json(
            QJsonObject{{"changed", changed}, {"stored", true}, {"checksum", hex32(crc)}, {"backup", backup}});
    }
    context.say(QStringLiteral("Stored %1 setting(s); the EFIS holds checksum %2").arg(changed.size()).arg(hex32(crc)));
    return kExitOk;
}

int run_config_export(const Context& context, const QString& path) {
    EfisConfiguration efis(context);
    if (const int code = efis.open_and_load(true, QStringLiteral("Nothing was exported")); code != kExitOk) return code;
    const auto file = confirmedConfigurationFile(efis.model(), primaryUnit(efis.session().comms()), tool_text(),
                                                 QStringLiteral("export"));
    if (!file) {
        return context.fail(kExitBusFailure, QStringLiteral("The configuration was not completely read from the EFIS"));
    }
    const QByteArray bytes = write_config_file(*file);
    // "-" is standard output: the file is the command's output, so nothing
    // else is printed there.
    if (path == QStringLiteral("-")) {
        context.out.write(bytes.constData(), bytes.size());
        context.out.flush();
        if (!context.out.good()) {
            context.out.clear();
            return context.fail(kExitBadInput, QStringLiteral("Could not write the configuration to standard output"));
        }
        return kExitOk;
    }
    if (const FileWriteResult write = write_file_atomically(path, bytes); !write.ok())
        return context.fail(exit_code(write), describe(write));
    if (context.json)
        context.print_json(QJsonObject{{"path", QFileInfo(path).absoluteFilePath()}, {"serial", file->efis.serial}});
    context.say(QStringLiteral("Configuration exported to %1").arg(QDir::toNativeSeparators(path)));
    return kExitOk;
}

int run_config_import(const Context& context, const QString& path, const ImportOptions& options) {
    const QString source = QFileInfo(path).fileName();
    QString error;
    const std::optional<ConfigFile> file = load_config_file(path, &error);
    if (!file)
        return context.fail(kExitBadInput,
                            QStringLiteral("%1 cannot be imported: %2. Nothing was sent").arg(source, error));

    EfisConfiguration efis(context);
    efis.allow_erased();
    if (const int code = efis.open_and_load(true); code != kExitOk) return code;
    if (efis.erased()) return import_first_configuration(context, efis, *file, source, options);
    const ConfigRecord on_efis = efis.model().record();
    if (const auto refused = import_refusal(*file, &on_efis)) {
        return context.fail(
            kExitBadInput, QStringLiteral("%1 cannot be imported: %2. Nothing was sent").arg(source, refused->message));
    }
    const bool other_memory_version =
        file->efis.memory_version && *file->efis.memory_version != on_efis.memory_version();
    if (other_memory_version) {
        context.warn(QStringLiteral("%1 comes from memory version %2, this EFIS has memory version %3. Check every "
                                    "value before applying")
                         .arg(source)
                         .arg(*file->efis.memory_version)
                         .arg(on_efis.memory_version()));
    }
    const std::vector<const SettingEntry*> changes = changed_settings(*file, on_efis);

    QJsonArray rows;
    const QString header = QStringLiteral("%1  %2  %3")
                               .arg(QStringLiteral("Setting"), -28)
                               .arg(QStringLiteral("On the EFIS"), -24)
                               .arg(QStringLiteral("In the file"));
    if (!changes.empty()) context.say(header);
    for (const SettingEntry* entry : changes) {
        rows.append(QJsonObject{{"setting", name_of(*entry)},
                                {"efis", setting_to_json(*entry, on_efis)},
                                {"file", setting_to_json(*entry, file->settings)}});
        context.say(QStringLiteral("%1  %2  %3")
                        .arg(name_of(*entry), -28)
                        .arg(setting_display_text(*entry, on_efis), -24)
                        .arg(setting_display_text(*entry, file->settings)));
    }
    const auto report = [&](bool applied, const QString& checksum) {
        if (context.json) {
            context.print_json(QJsonObject{{"file", QFileInfo(path).absoluteFilePath()},
                                           {"changes", rows},
                                           {"applied", applied},
                                           {"checksum", checksum}});
        }
    };
    if (changes.empty()) {
        report(false, hex32(efis.model().device_checksum()));
        context.say(QStringLiteral("The EFIS already holds every setting of %1; nothing to restore").arg(source));
        return kExitOk;
    }
    if (options.dry_run) {
        report(false, hex32(efis.model().device_checksum()));
        context.say(QStringLiteral("Dry run: %1 setting(s) would change; nothing was sent").arg(changes.size()));
        return kExitOk;
    }

    std::uint32_t crc = 0;
    if (const int code =
            store_file_settings(context, efis, *file, source, changes, options, QStringLiteral("before import"), &crc);
        code != kExitOk)
        return code;
    report(true, hex32(crc));
    context.say(
        QStringLiteral("Configuration restored from %1: %2 setting(s) changed").arg(source).arg(changes.size()));
    return kExitOk;
}

}  // namespace vk61::cli
