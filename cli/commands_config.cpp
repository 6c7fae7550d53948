// config show, get, set, export and import: the configuration model, the
// exchange and the file format the window uses, with the same rules (nothing
// stored while a setting is unknown, a store counts once the checksum read
// back matches, an automatic backup before every store).
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
#include "core/store_texts.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "files/checked_file_writer.h"

namespace vk61::cli {

namespace {

QString hex32(std::uint32_t value) {
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

QString names_of(const std::vector<unsigned>& indices) { return distinct_setting_names(indices).join(QStringLiteral(", ")); }

QString name_of(const SettingEntry& entry) {
    return QString::fromUtf8(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

bool entry_known(const ConfigModel& model, const SettingEntry& entry) {
    for (unsigned i = 0; i < entry.index_count; ++i) {
        if (!model.is_known(entry.first_index + i)) return false;
    }
    return true;
}

// One configuration session: the bus, the model and the exchange.
class EfisConfiguration {
public:
    explicit EfisConfiguration(const Context& context)
        : context_(context), session_(context), exchange_(&session_.comms(), model_, context.env.timings.config) {}

    // Connects and loads. With require_complete, a setting that stays unread
    // or a header that cannot be read is a failure; otherwise only the header.
    // outcome ends the message of an incomplete load: what did not happen.
    int open_and_load(bool require_complete, const QString& outcome = QStringLiteral("Nothing was sent")) {
        if (const int code = session_.open(); code != kExitOk) return code;
        return load(require_complete, outcome);
    }

    int load(bool require_complete, const QString& outcome = QStringLiteral("Nothing was sent")) {
        LoadResult result;
        if (!run([&] { result = load_configuration(exchange_); })) return interrupted();
        switch (result.status) {
            case LoadStatus::NotConnected:
                return context_.fail(kExitNotConnected,
                                     notConnectedText());
            case LoadStatus::HeaderUnread:
                return context_.fail(
                    kExitBusFailure,
                    QStringLiteral("The EFIS did not answer the read of header word %1").arg(result.index));
            case LoadStatus::HeaderErased:
                if (allow_erased_) {
                    erased_ = true;
                    return kExitOk;
                }
                return context_.fail(kExitBusFailure, QStringLiteral("The EFIS holds no stored configuration"));
            case LoadStatus::Cancelled:
                return interrupted();
            case LoadStatus::Loaded:
                break;
        }
        crc_ok_ = result.crc_ok;
        if (!result.unread.empty()) {
            const QStringList names = distinct_setting_names(result.unread);
            const QString message = QStringLiteral("%1 setting(s) could not be read: %2")
                                        .arg(names.size())
                                        .arg(names.join(QStringLiteral(", ")));
            if (require_complete) return context_.fail(kExitBusFailure, message + QStringLiteral(". ") + outcome);
            context_.warn(message);
        }
        if (!result.crc_ok) {
            context_.warn(
                QStringLiteral("The settings read do not match the checksum the EFIS holds (computed %1, stored %2)")
                    .arg(hex32(result.computed_crc), hex32(model_.device_checksum())));
        }
        return kExitOk;
    }

    // The automatic backup before a store, as the window takes it; a backup
    // that cannot be written is reported and does not stop the store.
    QString backup(const QString& reason) { return write_backup(context_, model_, session_.comms(), reason); }

    // Refuses to store while the EFIS holds working values it never stored,
    // unless include_unstored: they would be stored along with the change.
    int refuse_unstored(bool include_unstored) {
        if (model_.matches_stored_checksum()) return kExitOk;
        if (include_unstored) {
            context_.warn(unstoredValuesText() + QStringLiteral("; storing them as asked"));
            return kExitOk;
        }
        return context_.fail(kExitBadInput,
                             unstoredValuesText() +
                                 QStringLiteral(". Reboot the EFIS to discard them, or store them too with "
                                                "--include-unstored. Nothing was sent"));
    }

    // An erased EFIS loads as erased() instead of failing.
    void allow_erased() { allow_erased_ = true; }
    bool erased() const { return erased_; }

    // Sends the pending edits, stores and verifies the checksum.
    int store(std::uint32_t* crc) {
        StoreResult result;
        if (!run([&] { result = store_settings(exchange_); })) return interrupted();
        return stored(result, crc);
    }

    // Writes every header word and setting of record to an erased EFIS,
    // stores and verifies the checksum.
    int store_first(const ConfigRecord& record, std::uint32_t memory_version, std::uint32_t* crc) {
        StoreResult result;
        if (!run([&] { result = exchange_.store_first_configuration(record, memory_version); })) return interrupted();
        return stored(result, crc);
    }

    int stored(const StoreResult& result, std::uint32_t* crc) {
        switch (result.status) {
            case StoreStatus::Saved:
                *crc = result.crc;
                return kExitOk;
            case StoreStatus::NotConnected:
                return context_.fail(kExitNotConnected,
                                     notConnectedText());
            case StoreStatus::NoDeviceChanges:
            case StoreStatus::UnknownSettings:
                return context_.fail(
                    kExitBusFailure,
                    QStringLiteral("%1 setting(s) are unknown; nothing was stored").arg(result.unknown));
            case StoreStatus::RuleRefused:
                return context_.fail(kExitBadInput, refusedText(result.refusal));
            case StoreStatus::MemoryVersionUnread:
            case StoreStatus::NumElementsUnread:
                return context_.fail(kExitBusFailure,
                                     QStringLiteral("The EFIS did not answer the header reads; nothing was stored"));
            case StoreStatus::WriteFailed: {
                QString message = QStringLiteral("Setting %1 was not acknowledged; nothing was stored")
                                      .arg(names_of({static_cast<unsigned>(result.index)}));
                if (const QString writeBack = writeBackText(result); !writeBack.isEmpty()) {
                    message += QStringLiteral("; ") + writeBack;
                }
                return context_.fail(kExitBusFailure, message);
            }
            case StoreStatus::StoreFailed:
                return context_.fail(kExitBusFailure, QStringLiteral("The units did not acknowledge the store"));
            case StoreStatus::ChecksumUnread:
                return context_.fail(kExitBusFailure,
                                     QStringLiteral("Stored, but the checksum could not be read back"));
            case StoreStatus::ChecksumMismatch:
                return context_.fail(kExitBusFailure,
                                     QStringLiteral("The EFIS holds checksum %1, not the %2 that was stored")
                                         .arg(hex32(result.read_back), hex32(result.crc)));
        }
        return context_.fail(kExitBusFailure, QStringLiteral("The store failed"));
    }

    ConfigModel& model() { return model_; }
    bool crc_ok() const { return crc_ok_; }
    BusSession& session() { return session_; }

private:
    bool run(const std::function<void()>& work) {
        return run_bus_task(session_.comms(), context_.env.interrupted, work);
    }
    int interrupted() { return context_.fail(kExitBusFailure, QStringLiteral("Interrupted")); }

    const Context& context_;
    BusSession session_;
    ConfigModel model_;
    ConfigExchange exchange_;
    bool crc_ok_ = false;
    bool allow_erased_ = false;
    bool erased_ = false;
};

// Puts the file's (or the command line's) record values of entry into the model.
void edit_entry(ConfigModel& model, const SettingEntry& entry, const ConfigRecord& wanted) {
    for (unsigned i = 0; i < entry.index_count; ++i) {
        const unsigned index = entry.first_index + i;
        const std::uint32_t value = config_get_value(wanted, index);
        if (value != model.value(index)) model.edit(static_cast<int>(index), value);
    }
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
            context.print_json(QJsonObject{{"file", source}, {"changes", rows}, {"applied", applied}, {"checksum", checksum}});
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
        return context.fail(kExitBusFailure, QStringLiteral("The EFIS does not hold the file's settings after the store"));
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
                return context.fail(kExitBadInput, QStringLiteral("Setting \"%1\" is given twice. Nothing was sent")
                                                       .arg(name_of(*assignment->entry)));
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
    if (const int code = efis.open_and_load(true, QStringLiteral("Nothing was exported")); code != kExitOk)
        return code;
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
    if (const FileWriteResult write = write_file_atomically(path, bytes); !write.ok)
        return context.fail(kExitBadInput, write.error);
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
        return context.fail(kExitBadInput,
                            QStringLiteral("%1 cannot be imported: %2. Nothing was sent").arg(source, refused->message));
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

    if (other_memory_version && !options.force) {
        return context.fail(kExitBadInput,
                            QStringLiteral("%1 comes from another memory version; apply it with --force. Nothing "
                                           "was sent")
                                .arg(source));
    }
    if (const int code = efis.refuse_unstored(options.include_unstored); code != kExitOk) return code;
    efis.backup(QStringLiteral("before import"));
    for (const SettingEntry* entry : changes) edit_entry(efis.model(), *entry, file->settings);
    std::uint32_t crc = 0;
    if (const int code = efis.store(&crc); code != kExitOk) return code;
    // Read back what the units hold; the restore is done only when that
    // matches the file and the checksum.
    if (const int code = efis.load(true); code != kExitOk) return code;
    const std::vector<const SettingEntry*> left = changed_settings(*file, efis.model().record());
    if (!efis.crc_ok() || !left.empty()) {
        return context.fail(kExitBusFailure,
                            QStringLiteral("The EFIS does not hold the file's settings after the store"));
    }
    report(true, hex32(crc));
    context.say(
        QStringLiteral("Configuration restored from %1: %2 setting(s) changed").arg(source).arg(changes.size()));
    return kExitOk;
}

}  // namespace vk61::cli
