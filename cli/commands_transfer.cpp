// firmware update and airports upload: the window's file checks and digest
// rules, then the window's workers, with progress on standard error.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include "bus_task.h"
#include "commands.h"
#include "core/unit_choice.h"
#include "comms_manager.h"
#include "core/airport_resume.h"
#include "core/airport_transfer.h"
#include "core/config_exchange.h"
#include "core/firmware_plan.h"
#include "core/transfer_files.h"
#include "downloads/downloads.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "flash/firmware_file.h"
#include "progress_display.h"
#include "result_exit.h"

namespace vk61::cli {

namespace {

// Reads the firmware file once and makes the checks every firmware file
// passes before a unit is asked anything: present, its digest as the
// manifest gives it (when the manifest names the file), and a header whose
// sizes the file and the units' space hold. *image gets the bytes the units
// will receive.
int load_firmware(const Context& context, const QString& path, std::shared_ptr<const FirmwareImage>* image,
                  FirmwareImageIdentity* identity) {
    // As the window does, the manifest (server, else a cached or local copy)
    // gives the digest of a file it names, and says what the image is. The
    // lookup is optional: it waits a few seconds at most and says so when it
    // gives up.
    QString expected;
    *identity = firmware_identity(path, nullptr);
    if (QFileInfo(path).isFile()) {
        QList<FirmwarePackage> packages;
        const DownloadResult lookup =
            load_firmware_packages(context.manifests, &packages, context.env.downloads.optional_lookup_timeout_ms);
        if (lookup.ok()) {
            if (const FirmwarePackage* known = find_firmware_by_file_name(packages, path)) {
                expected = known->sha256;
                *identity = firmware_identity(path, known);
            }
        } else {
            context.warn(
                QStringLiteral("No downloads manifest (%1); the file is not checked against it").arg(describe(lookup)));
        }
    }
    const LoadedFirmware loaded = load_firmware_file(path, expected);
    if (!loaded.ok()) {
        // The digests end the mismatch's text, each on its own line.
        const bool digest = loaded.problem == TransferFileProblem::DigestMismatch;
        return context.fail(exit_code(loaded), describe(loaded) + (digest ? QStringLiteral("\nNothing was sent")
                                                                          : QStringLiteral(". Nothing was sent")));
    }
    // What no unit could take is refused before the bus is opened.
    if (const FirmwarePlan plan = plan_firmware_update(*loaded.image, *identity, {}); plan.refused()) {
        return context.fail(kExitBadInput,
                            QStringLiteral("%1 cannot be sent: %2. Nothing was sent").arg(path, plan.refusal));
    }
    *image = loaded.image;
    return kExitOk;
}

// Lists what every unit will receive; an update that needs a second look
// goes ahead only with force.
int check_firmware_plan(const Context& context, const FirmwareImage& image, const FirmwareImageIdentity& identity,
                        const std::vector<DeviceInfo>& units, bool force) {
    const FirmwarePlan plan = plan_firmware_update(image, identity, units);
    if (plan.refused()) {
        return context.fail(kExitBadInput,
                            QStringLiteral("The firmware cannot be sent: %1. Nothing was sent").arg(plan.refusal));
    }
    for (const QString& line : plan.unit_lines()) context.err << line.toStdString() << '\n';
    context.err << std::flush;
    const QStringList concerns = plan.concerns();
    if (concerns.isEmpty()) return kExitOk;
    if (!force) {
        return context.fail(kExitBadInput, concerns.join(QStringLiteral("; ")) +
                                               QStringLiteral(". Run again with --force to update anyway. "
                                                              "Nothing was sent"));
    }
    for (const QString& concern : concerns) context.warn(concern);
    return kExitOk;
}

// Reads the airport database once, before the bus is opened: a file that is
// missing, empty or larger than the units hold is refused here.
int load_database(const Context& context, const QString& path,
                  std::shared_ptr<const std::vector<std::uint8_t>>* bytes) {
    const LoadedDatabase loaded = load_airport_database(path, QString());
    if (!loaded.ok()) return context.fail(exit_code(loaded), describe(loaded) + QStringLiteral(". Nothing was sent"));
    *bytes = loaded.bytes;
    return kExitOk;
}

// The firmware update may leave the units with another configuration (or
// none): keep the one they hold now. Neither a load that cannot finish nor a
// backup that cannot be written stops the update, as in the window. Returns
// the backup's file, or "" when none was taken.
QString backup_before_update(const Context& context, BusSession& session) {
    ConfigModel model;
    ConfigExchange exchange(&session.comms(), model, context.env.timings.config);
    const LoadResult loaded = load_configuration(exchange);
    if (!loaded.ok() || model.unknown_count() > 0) {
        context.warn(QStringLiteral("The configuration could not be read completely; no backup was taken"));
        return {};
    }
    return write_backup(context, model, session.comms(), QStringLiteral("before firmware update"));
}

// The transfer's progress callback: stores each report in the display.
ProgressCallback reporting_to(ProgressDisplay& display) {
    return [&display](std::uint64_t done, std::uint64_t total, ProgressPhase phase) {
        display.record(done, total, phase);
    };
}

// Runs transfer (given the progress display to report to) on a bus thread,
// the display ticking here. Returns the exit code once reported.
int run_transfer(const Context& context, BusSession& session,
                 const std::function<TransferResult(ProgressDisplay&)>& transfer, TransferResult* outcome) {
    ProgressDisplay progress(context.err, context.progress_terminal(), context.env.timings.progress_line_interval);
    const bool finished = run_bus_task(
        session.comms(), context.env.interrupted, [&] { *outcome = transfer(progress); }, [&] { progress.tick(); });
    progress.finish();
    if (!finished) return context.fail(kExitBusFailure, QStringLiteral("Interrupted; the bus was disconnected"));
    if (!outcome->ok()) return context.fail(exit_code(*outcome), describe(*outcome));
    return kExitOk;
}

}  // namespace

int run_firmware_update(const Context& context, const QString& file, const FirmwareUpdateOptions& options) {
    BusSession session(context);
    QString path = file;
    std::shared_ptr<const FirmwareImage> image;
    FirmwareImageIdentity identity;
    if (path.isEmpty()) {
        // --fetch: the package for the unit on the bus.
        if (const int code = session.open(); code != kExitOk) return code;
        const DeviceInfo* unit = choose_fetch_unit(session.units(), session.comms().primary_uid());
        if (const int code = fetch_firmware_for(context, unit->device_id, &path); code != kExitOk) return code;
        if (const int code = load_firmware(context, path, &image, &identity); code != kExitOk) return code;
    } else {
        if (const int code = load_firmware(context, path, &image, &identity); code != kExitOk) return code;
        if (const int code = session.open(); code != kExitOk) return code;
    }
    if (const int code = check_firmware_plan(context, *image, identity, session.units(), options.force);
        code != kExitOk)
        return code;
    const QString backup = backup_before_update(context, session);

    QJsonArray uids;
    for (const DeviceInfo& unit : session.units()) uids.append(unit.uid);
    TransferResult outcome;
    const int code = run_transfer(
        context, session,
        [&](ProgressDisplay& progress) {
            return update_firmware(session.comms(), *image, reporting_to(progress), context.env.timings.firmware);
        },
        &outcome);
    if (code != kExitOk) return code;
    QJsonObject result{{"file", QFileInfo(path).absoluteFilePath()}, {"units", uids}};
    context.say(describe(outcome));
    if (options.reboot) {
        if (const int checked = check_after_update(context, session, backup, options.restore, &result);
            checked != kExitOk)
            return checked;
    }
    if (context.json) context.print_json(result);
    return kExitOk;
}

int run_airports_upload(const Context& context, const QString& file, const AirportUploadOptions& options) {
    QString path = file;
    if (path.isEmpty()) {
        if (const int code = fetch_airport_database(context, &path); code != kExitOk) return code;
    }
    std::shared_ptr<const std::vector<std::uint8_t>> database;
    if (const int code = load_database(context, path, &database); code != kExitOk) return code;
    BusSession session(context);
    if (const int code = session.open(); code != kExitOk) return code;

    AirportJob job;
    job.database = database;
    job.sha256 = sha256_hex(database->data(), database->size());
    job.units = session.units();
    job.one_at_a_time = options.one_at_a_time;
    job.record_path = airport_record_path();
    job.timeouts = context.env.timings.airports;
    const ResumeOffer offer = check_airport_resume(job.record_path, job.sha256, database->size(), job.units);
    if (offer.verdict == ResumeVerdict::Resumable && options.resume) {
        job.resume_from = offer.progress;
        context.err << "Resuming: " << offer.text.toStdString() << '\n';
    } else if (offer.verdict == ResumeVerdict::Resumable) {
        context.warn(offer.text + QStringLiteral("; run again with --resume for that. This upload starts afresh"));
    } else if (offer.verdict != ResumeVerdict::Fresh) {
        context.warn(offer.text);
    } else if (options.resume) {
        context.warn(QStringLiteral("No interrupted airport database upload to resume; this upload starts afresh"));
    }
    const bool together = job.resume_from.empty() && !job.one_at_a_time && job.units.size() > 1;
    context.err << "Starting airport database transfer to " << job.units.size() << " device(s)"
                << (together ? " at once" : "") << "...\n"
                << std::flush;

    TransferResult outcome;
    AirportJobResult ran;
    const int code = run_transfer(
        context, session,
        [&](ProgressDisplay& progress) {
            return upload_airports(
                session.comms(), job,
                [&progress](std::uint8_t uid, int position, int total) { progress.begin_unit(uid, position, total); },
                reporting_to(progress), &ran);
        },
        &outcome);
    if (!ran.record.ok()) context.warn(describe(ran.record) + QStringLiteral("; an interruption could not be resumed"));
    if (code != kExitOk) return code;
    if (context.json) {
        context.print_json(QJsonObject{{"file", QFileInfo(path).absoluteFilePath()},
                                       {"units_done", outcome.airports.units_done},
                                       {"units_total", outcome.airports.units_total}});
    }
    context.say(describe(outcome));
    return kExitOk;
}

}  // namespace vk61::cli
