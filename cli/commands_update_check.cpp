// firmware update --reboot [--restore]: the units are rebooted and waited
// for as reboot --wait does (every updated unit must answer), the
// configuration is loaded as config show loads it and compared with the
// backup taken before the update; with --restore the backup goes back through
// config import's apply step, so every rule of a store holds.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include "bus_task.h"
#include "commands.h"
#include "comms_manager.h"
#include "core/reboot_wait.h"
#include "core/update_check.h"
#include "efis_configuration.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "result_exit.h"

namespace vk61::cli {

namespace {

// Blocks until every unit of expected was heard after the reboot, or the
// wait's last check. Returns the exit code once reported.
int reboot_and_wait(const Context& context, BusSession& session, std::uint32_t expected) {
    if (!send_reboot(session.comms())) {
        const RebootResult not_sent = RebootResult::not_sent();
        return context.fail(exit_code(not_sent),
                            describe(not_sent) + QStringLiteral("; the configuration was not compared"));
    }
    context.err << "Reboot sent — waiting for the units to come back\n" << std::flush;
    std::uint32_t heard = 0;
    const bool finished = run_bus_task(session.comms(), context.env.interrupted, [&] {
        heard = ::wait_for_units_after_reboot(session.comms(), context.env.timings.reboot, context.env.interrupted, {},
                                              expected);
    });
    if (!finished) return context.fail(kExitBusFailure, QStringLiteral("Interrupted"));
    const RebootResult result = RebootResult::after_wait(heard, expected, false);
    return result.ok() ? kExitOk : context.fail(exit_code(result), describe(result));
}

}  // namespace

int check_after_update(const Context& context, BusSession& session, const QString& backup, bool restore,
                       QJsonObject* result) {
    if (const int code = reboot_and_wait(context, session, unitMask(session.units())); code != kExitOk) return code;
    result->insert("rebooted", true);
    context.say(QStringLiteral("Every unit is back after the reboot"));

    if (backup.isEmpty()) return context.fail(kExitBusFailure, noBackupToCompareText());
    QString error;
    const std::optional<ConfigFile> file = load_config_file(backup, &error);
    if (!file) {
        return context.fail(
            kExitBusFailure,
            QStringLiteral("The backup %1 cannot be read (%2); nothing can be compared").arg(backup, error));
    }
    EfisConfiguration efis(context, session);
    if (const int code = efis.load(true, QStringLiteral("The configuration was not compared")); code != kExitOk)
        return code;

    const ConfigRecord now = efis.model().record();
    const std::vector<SettingDifference> differences = differencesFromBackup(*file, now);
    QJsonArray rows;
    for (const SettingDifference& difference : differences) {
        rows.append(QJsonObject{{"setting", difference.name},
                                {"backup", setting_to_json(*difference.entry, file->settings)},
                                {"now", setting_to_json(*difference.entry, now)}});
    }
    result->insert("backup", backup);
    result->insert("differences", rows);
    result->insert("restored", false);
    if (differences.empty()) {
        context.say(configurationUnchangedText());
        return kExitOk;
    }

    context.say(QStringLiteral("%1  %2  %3")
                    .arg(QStringLiteral("Setting"), -28)
                    .arg(QStringLiteral("In the backup"), -24)
                    .arg(QStringLiteral("Now")));
    for (const SettingDifference& difference : differences) {
        context.say(QStringLiteral("%1  %2  %3")
                        .arg(difference.name, -28)
                        .arg(difference.backup_value, -24)
                        .arg(difference.value_now));
    }
    context.say(configurationDiffersText(differences.size()));
    const QString source = QFileInfo(backup).fileName();
    if (!restore) {
        // Not a failure: the update worked, and the firmware may have changed
        // a setting on purpose. The list says what to look at.
        context.say(QStringLiteral("To put the backup back: %1 config import %2")
                        .arg(QString::fromStdString(context.env.program), backup));
        return kExitOk;
    }

    std::vector<const SettingEntry*> entries;
    for (const SettingDifference& difference : differences) entries.push_back(difference.entry);
    std::uint32_t crc = 0;
    if (const int code = store_file_settings(context, efis, *file, source, entries, ImportOptions{},
                                             QStringLiteral("before restore after firmware update"), &crc);
        code != kExitOk)
        return code;
    result->insert("restored", true);
    result->insert("checksum", hex32(crc));
    context.say(
        QStringLiteral("Configuration restored from %1: %2 setting(s) changed").arg(source).arg(differences.size()));
    return kExitOk;
}

}  // namespace vk61::cli
