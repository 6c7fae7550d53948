// list and reboot.
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <chrono>

#include "bus_task.h"
#include "commands.h"
#include "comms_manager.h"
#include "core/device_text.h"
#include "core/reboot_wait.h"
#include "downloads/manifest_source.h"
#include "downloads/package_selection.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "protocol.h"
#include "result_exit.h"

namespace vk61::cli {

namespace {
constexpr auto kRebootWaitLineInterval = std::chrono::seconds(5);
}  // namespace

int run_list(const Context& context) {
    BusSession session(context);
    if (const int code = session.open(/*allow_no_units=*/true); code != kExitOk) return code;

    // Names and update availability come from the manifest when it can be
    // had (the server, else the cached or local copy), as in the devices table.
    QList<FirmwarePackage> packages;
    // Optional: a few seconds at most, then the list without it.
    const DownloadResult manifest =
        load_firmware_packages(context.manifests, &packages, context.env.downloads.optional_lookup_timeout_ms);
    if (!manifest.ok())
        context.warn(QStringLiteral("No downloads manifest (%1); update availability unknown").arg(describe(manifest)));

    std::vector<DeviceInfo> units = session.units();
    std::sort(units.begin(), units.end(), [](const DeviceInfo& a, const DeviceInfo& b) { return a.uid < b.uid; });
    const bool link_connected = session.comms().is_connected();

    QJsonArray rows;
    for (const DeviceInfo& unit : units) {
        QString name;
        QJsonValue update = QJsonValue::Null;
        if (const FirmwarePackage* package = find_firmware_for_device(packages, unit.device_id)) {
            name = package->display_name.isEmpty() ? package->device_type : package->display_name;
            update = is_firmware_older(unit.firmware, *package);
        }
        if (name.isEmpty()) name = unitTypeName(unit.type_code());
        rows.append(QJsonObject{{"uid", unit.uid},
                                {"name", name},
                                {"serial", serialText(unit.device_id)},
                                {"firmware", firmwareText(unit.firmware)},
                                {"connected", countsAsConnected(unit, link_connected)},
                                {"update_available", update}});
    }
    // A bridge without a unit behind it is not a result a script can use.
    if (rows.isEmpty()) return context.fail(kExitNotConnected, QStringLiteral("No units answered on the bus"));
    if (context.json) {
        context.print_json(QJsonObject{{"units", rows}});
        return kExitOk;
    }
    context.say(QStringLiteral("%1  %2  %3  %4  %5  %6")
                    .arg(QStringLiteral("UID"), 3)
                    .arg(QStringLiteral("Name"), -20)
                    .arg(QStringLiteral("Serial"), -10)
                    .arg(QStringLiteral("Firmware"), -8)
                    .arg(QStringLiteral("Connected"), -9)
                    .arg(QStringLiteral("Update")));
    for (const QJsonValue& value : rows) {
        const QJsonObject row = value.toObject();
        const QJsonValue update = row["update_available"];
        context.say(QStringLiteral("%1  %2  %3  %4  %5  %6")
                        .arg(row["uid"].toInt(), 3)
                        .arg(row["name"].toString(), -20)
                        .arg(row["serial"].toString(), -10)
                        .arg(row["firmware"].toString(), -8)
                        .arg(row["connected"].toBool() ? QStringLiteral("yes") : QStringLiteral("no"), -9)
                        .arg(update.isNull()   ? QStringLiteral("unknown")
                             : update.toBool() ? QStringLiteral("yes")
                                               : QStringLiteral("no")));
    }
    return kExitOk;
}

int run_reboot(const Context& context, bool wait) {
    BusSession session(context);
    if (const int code = session.open(); code != kExitOk) return code;
    if (!send_reboot(session.comms())) {
        const RebootResult not_sent = RebootResult::not_sent();
        return context.fail(exit_code(not_sent), describe(not_sent));
    }
    if (!wait) {
        if (context.json) context.print_json(QJsonObject{{"rebooted", true}});
        context.say(QStringLiteral("Reboot sent"));
        return kExitOk;
    }
    context.err << "Reboot sent — waiting for the units to come back\n" << std::flush;
    std::uint32_t heard = 0;
    // The wait can last a minute: a line every few seconds says it is still on.
    const auto started = std::chrono::steady_clock::now();
    auto next_line = started + kRebootWaitLineInterval;
    const bool finished = run_bus_task(
        session.comms(), context.env.interrupted,
        [&] {
            heard = ::wait_for_units_after_reboot(session.comms(), context.env.timings.reboot, context.env.interrupted);
        },
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (now < next_line) return;
            next_line = now + kRebootWaitLineInterval;
            const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - started).count();
            context.err << "Still waiting for the units (" << waited << " s)\n" << std::flush;
        });
    if (!finished) return context.fail(kExitBusFailure, QStringLiteral("Interrupted"));
    const RebootResult result = RebootResult::after_wait(heard, 0, false);
    if (!result.ok()) return context.fail(exit_code(result), describe(result));
    QJsonArray uids;
    for (unsigned uid = 1; uid <= protocol::kHighestUid; ++uid) {
        if ((heard >> uid) & 1u) uids.append(static_cast<int>(uid));
    }
    if (context.json) context.print_json(QJsonObject{{"rebooted", true}, {"units_heard", uids}});
    context.say(describe(result));
    return kExitOk;
}

}  // namespace vk61::cli
