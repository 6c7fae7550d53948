// firmware update and airports upload: the window's file checks and digest
// rules, then the window's workers, with progress on standard error.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include "bus_task.h"
#include "commands.h"
#include "core/unit_choice.h"
#include "comms_manager.h"
#include "core/config_exchange.h"
#include "downloads/downloads.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "flash/firmware_file.h"
#include "progress_display.h"

namespace vk61::cli {

namespace {

// The checks every firmware file passes before a unit is asked anything:
// present, its digest as the manifest gives it (when the manifest names the
// file), and a header whose sizes the file and the units' space hold.
int check_firmware_file(const Context& context, const QString& path, const QString& expected_sha256) {
    if (!QFileInfo(path).isFile()) {
        return context.fail(kExitBadInput,
                            QStringLiteral("Firmware file was not found: %1. Nothing was sent").arg(path));
    }
    QString expected = expected_sha256;
    if (expected.isEmpty()) {
        // As the window does, the manifest (server, else a cached or local
        // copy) gives the digest of a file it names.
        QList<FirmwarePackage> packages;
        if (load_firmware_packages(context.manifests, &packages, nullptr)) {
            if (const FirmwarePackage* known = find_firmware_by_file_name(packages, path)) expected = known->sha256;
        }
    }
    QString error;
    if (!verify_file_sha256(path, expected, &error)) {
        return context.fail(kExitDownload, QStringLiteral("Firmware file rejected (SHA-256 mismatch): %1").arg(error));
    }
    FirmwareHeader header;
    std::int64_t size = 0;
    const std::string local = path.toLocal8Bit().toStdString();
    if (!read_firmware_header(local, &header, &size) || header.encrypted_size() == 0 ||
        !firmware_file_fits(header, size)) {
        return context.fail(kExitBadInput,
                            QStringLiteral("%1 is not a complete firmware file. Nothing was sent").arg(path));
    }
    return kExitOk;
}

// The firmware update may leave the units with another configuration (or
// none): keep the one they hold now. Neither a load that cannot finish nor a
// backup that cannot be written stops the update, as in the window.
void backup_before_update(const Context& context, BusSession& session) {
    ConfigModel model;
    ConfigExchange exchange(&session.comms(), model, context.env.timings.config);
    const LoadResult loaded = load_configuration(exchange);
    if (loaded.status != LoadStatus::Loaded || model.unknown_count() > 0) {
        context.warn(QStringLiteral("The configuration could not be read completely; no backup was taken"));
        return;
    }
    write_backup(context, model, session.comms(), QStringLiteral("before firmware update"));
}

// Runs transfer (given the progress display to report to) on a bus thread,
// the display ticking here. Returns the exit code once reported.
int run_transfer(const Context& context, BusSession& session,
                 const std::function<TransferOutcome(ProgressDisplay&)>& transfer, TransferOutcome* outcome) {
    ProgressDisplay progress(context.err, context.progress_terminal(), context.env.timings.progress_line_interval);
    const bool finished = run_bus_task(
        session.comms(), context.env.interrupted, [&] { *outcome = transfer(progress); }, [&] { progress.tick(); });
    progress.finish();
    if (!finished) return context.fail(kExitBusFailure, QStringLiteral("Interrupted; the bus was disconnected"));
    if (!outcome->ok) return context.fail(kExitBusFailure, QString::fromStdString(outcome->failure));
    return kExitOk;
}

}  // namespace

int run_firmware_update(const Context& context, const QString& file) {
    BusSession session(context);
    QString path = file;
    if (path.isEmpty()) {
        // --fetch: the package for the unit on the bus.
        if (const int code = session.open(); code != kExitOk) return code;
        const DeviceInfo* unit = choose_fetch_unit(session.units(), session.comms().primary_uid());
        if (const int code = fetch_firmware_for(context, unit->device_id, &path); code != kExitOk) return code;
        if (const int code = check_firmware_file(context, path, QString()); code != kExitOk) return code;
    } else {
        if (const int code = check_firmware_file(context, path, QString()); code != kExitOk) return code;
        if (const int code = session.open(); code != kExitOk) return code;
    }
    backup_before_update(context, session);

    QJsonArray uids;
    for (const DeviceInfo& unit : session.units()) uids.append(unit.uid);
    TransferOutcome outcome;
    const std::string local = path.toLocal8Bit().toStdString();
    const int code = run_transfer(
        context, session,
        [&](ProgressDisplay& progress) {
            return update_firmware(session.comms(), local, &ProgressDisplay::record, &progress,
                                   context.env.timings.firmware);
        },
        &outcome);
    if (code != kExitOk) return code;
    if (context.json) context.print_json(QJsonObject{{"file", QFileInfo(path).absoluteFilePath()}, {"units", uids}});
    context.say(QStringLiteral("Firmware upload complete"));
    return kExitOk;
}

int run_airports_upload(const Context& context, const QString& file) {
    QString path = file;
    if (path.isEmpty()) {
        if (const int code = fetch_airport_database(context, &path); code != kExitOk) return code;
    } else if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable()) {
        return context.fail(kExitBadInput,
                            QStringLiteral("Cannot read the airport database %1. Nothing was sent").arg(path));
    }
    BusSession session(context);
    if (const int code = session.open(); code != kExitOk) return code;
    std::vector<std::uint8_t> uids;
    for (const DeviceInfo& unit : session.units()) uids.push_back(unit.uid);
    context.err << "Starting airport database transfer to " << uids.size() << " device(s)...\n" << std::flush;

    TransferOutcome outcome;
    const std::string local = path.toLocal8Bit().toStdString();
    const int code = run_transfer(
        context, session,
        [&](ProgressDisplay& progress) {
            return upload_airports(
                session.comms(), local, uids,
                [&progress](std::uint8_t uid, int position, int total) { progress.begin_unit(uid, position, total); },
                &ProgressDisplay::record, &progress, context.env.timings.airports);
        },
        &outcome);
    if (code != kExitOk) return code;
    if (context.json) {
        context.print_json(QJsonObject{{"file", QFileInfo(path).absoluteFilePath()},
                                       {"units_done", outcome.units_done},
                                       {"units_total", outcome.units_total}});
    }
    context.say(QStringLiteral("Airport database transfer finished on all %1 device(s)").arg(outcome.units_total));
    return kExitOk;
}

}  // namespace vk61::cli
