// One configuration session of the command-line tool: the bus, the
// configuration model and the exchange, with the window's rules (nothing
// stored while a setting is unknown, a store counts once the checksum read
// back matches, an automatic backup before every store). Used by the config
// commands and by the check after a firmware update.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "command_context.h"
#include "commands.h"
#include "config/config_file.h"
#include "config/config_model.h"
#include "core/config_exchange.h"

namespace vk61::cli {

// "0x0000ABCD".
QString hex32(std::uint32_t value);
QString name_of(const SettingEntry& entry);
// Puts the file's (or the command line's) record values of entry into the model.
void edit_entry(ConfigModel& model, const SettingEntry& entry, const ConfigRecord& wanted);

class EfisConfiguration {
public:
    // A session of its own, opened by open_and_load.
    explicit EfisConfiguration(const Context& context);
    // On session, already open (a firmware update's, after the reboot).
    EfisConfiguration(const Context& context, BusSession& session);

    // Connects and loads. With require_complete, a setting that stays unread
    // or a header that cannot be read is a failure; otherwise only the header.
    // outcome ends the message of an incomplete load: what did not happen.
    int open_and_load(bool require_complete, const QString& outcome = QStringLiteral("Nothing was sent"));
    int load(bool require_complete, const QString& outcome = QStringLiteral("Nothing was sent"));

    // The automatic backup before a store, as the window takes it; a backup
    // that cannot be written is reported and does not stop the store.
    QString backup(const QString& reason);

    // Refuses to store while the EFIS holds working values it never stored,
    // unless include_unstored: they would be stored along with the change.
    int refuse_unstored(bool include_unstored);

    // An erased EFIS loads as erased() instead of failing.
    void allow_erased() { allow_erased_ = true; }
    bool erased() const { return erased_; }

    // Sends the pending edits, stores and verifies the checksum.
    int store(std::uint32_t* crc);
    // Writes every header word and setting of record to an erased EFIS,
    // stores and verifies the checksum.
    int store_first(const ConfigRecord& record, std::uint32_t memory_version, std::uint32_t* crc);
    int stored(const StoreResult& result, std::uint32_t* crc);

    ConfigModel& model() { return model_; }
    bool crc_ok() const { return crc_ok_; }
    BusSession& session() { return session_; }

private:
    bool run(const std::function<void()>& work);
    int interrupted();

    const Context& context_;
    std::optional<BusSession> own_session_;
    BusSession& session_;
    ConfigModel model_;
    ConfigExchange exchange_;
    bool crc_ok_ = false;
    bool allow_erased_ = false;
    bool erased_ = false;
};

// The apply step of config import, for a file the EFIS loaded in efis may
// take: refuses what the store rules refuse, a file of another memory version
// without options.force and unstored working values without
// options.include_unstored; then takes the automatic backup (backup_reason),
// stores the settings of changes, loads again and checks that the EFIS holds
// the file's settings. *crc gets the checksum stored.
int store_file_settings(const Context& context, EfisConfiguration& efis, const ConfigFile& file, const QString& source,
                        const std::vector<const SettingEntry*>& changes, const ImportOptions& options,
                        const QString& backup_reason, std::uint32_t* crc);

}  // namespace vk61::cli
