#include "efis_configuration.h"

#include "bus_task.h"
#include "comms_manager.h"
#include "core/store_texts.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "result_exit.h"

namespace vk61::cli {

QString hex32(std::uint32_t value) {
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

QString name_of(const SettingEntry& entry) {
    return QString::fromUtf8(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

void edit_entry(ConfigModel& model, const SettingEntry& entry, const ConfigRecord& wanted) {
    for (unsigned i = 0; i < entry.index_count; ++i) {
        const unsigned index = entry.first_index + i;
        const std::uint32_t value = config_get_value(wanted, index);
        if (value != model.value(index)) model.edit(static_cast<int>(index), value);
    }
}

EfisConfiguration::EfisConfiguration(const Context& context)
    : context_(context),
      own_session_(std::in_place, context),
      session_(*own_session_),
      exchange_(&session_.comms(), model_, context.env.timings.config) {}

EfisConfiguration::EfisConfiguration(const Context& context, BusSession& session)
    : context_(context), session_(session), exchange_(&session_.comms(), model_, context.env.timings.config) {}

int EfisConfiguration::open_and_load(bool require_complete, const QString& outcome) {
    if (const int code = session_.open(); code != kExitOk) return code;
    return load(require_complete, outcome);
}

int EfisConfiguration::load(bool require_complete, const QString& outcome) {
    LoadResult result;
    if (!run([&] { result = load_configuration(exchange_); })) return interrupted();
    if (result.status == LoadStatus::HeaderErased && allow_erased_) {
        erased_ = true;
        return kExitOk;
    }
    if (result.status != LoadStatus::Loaded) return context_.fail(exit_code(result), describe(result));
    crc_ok_ = result.crc_ok;
    if (!result.ok()) {
        if (require_complete)
            return context_.fail(exit_code(result), describe(result) + QStringLiteral(". ") + outcome);
        context_.warn(describe(result));
    }
    if (!result.crc_ok) {
        context_.warn(
            QStringLiteral("The settings read do not match the checksum the EFIS holds (computed %1, stored %2)")
                .arg(hex32(result.computed_crc), hex32(model_.device_checksum())));
    }
    return kExitOk;
}

QString EfisConfiguration::backup(const QString& reason) {
    return write_backup(context_, model_, session_.comms(), reason);
}

int EfisConfiguration::refuse_unstored(bool include_unstored) {
    if (model_.matches_stored_checksum()) return kExitOk;
    if (include_unstored) {
        context_.warn(unstoredValuesText() + QStringLiteral("; storing them as asked"));
        return kExitOk;
    }
    return context_.fail(kExitBadInput, unstoredValuesText() +
                                            QStringLiteral(". Reboot the EFIS to discard them, or store them too with "
                                                           "--include-unstored. Nothing was sent"));
}

int EfisConfiguration::store(std::uint32_t* crc) {
    StoreResult result;
    if (!run([&] { result = store_settings(exchange_); })) return interrupted();
    return stored(result, crc);
}

int EfisConfiguration::store_first(const ConfigRecord& record, std::uint32_t memory_version, std::uint32_t* crc) {
    StoreResult result;
    if (!run([&] { result = exchange_.store_first_configuration(record, memory_version); })) return interrupted();
    return stored(result, crc);
}

int EfisConfiguration::stored(const StoreResult& result, std::uint32_t* crc) {
    if (!result.ok()) return context_.fail(exit_code(result), describe(result));
    *crc = result.crc;
    return kExitOk;
}

bool EfisConfiguration::run(const std::function<void()>& work) {
    return run_bus_task(session_.comms(), context_.env.interrupted, work);
}

int EfisConfiguration::interrupted() { return context_.fail(kExitBusFailure, QStringLiteral("Interrupted")); }

int store_file_settings(const Context& context, EfisConfiguration& efis, const ConfigFile& file, const QString& source,
                        const std::vector<const SettingEntry*>& changes, const ImportOptions& options,
                        const QString& backup_reason, std::uint32_t* crc) {
    const ConfigRecord on_efis = efis.model().record();
    if (const auto refused = import_refusal(file, &on_efis)) {
        return context.fail(
            kExitBadInput, QStringLiteral("%1 cannot be imported: %2. Nothing was sent").arg(source, refused->message));
    }
    if (file.efis.memory_version && *file.efis.memory_version != on_efis.memory_version() && !options.force) {
        return context.fail(kExitBadInput,
                            QStringLiteral("%1 comes from another memory version; apply it with --force. Nothing "
                                           "was sent")
                                .arg(source));
    }
    if (const int code = efis.refuse_unstored(options.include_unstored); code != kExitOk) return code;
    efis.backup(backup_reason);
    for (const SettingEntry* entry : changes) edit_entry(efis.model(), *entry, file.settings);
    if (const int code = efis.store(crc); code != kExitOk) return code;
    // Read back what the units hold; the restore is done only when that
    // matches the file and the checksum.
    if (const int code = efis.load(true); code != kExitOk) return code;
    if (!efis.crc_ok() || !changed_settings(file, efis.model().record()).empty()) {
        return context.fail(kExitBusFailure,
                            QStringLiteral("The EFIS does not hold the file's settings after the store"));
    }
    return kExitOk;
}

}  // namespace vk61::cli
