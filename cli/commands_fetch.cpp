// fetch manifest, firmware and airports, and the downloads behind the
// --fetch options: the window's downloads code, its fall-backs and digests.
#include <QFileInfo>
#include <QJsonObject>

#include "commands.h"
#include "comms_manager.h"
#include "core/device_text.h"
#include "core/unit_choice.h"
#include "downloads/downloads.h"
#include "exit_codes.h"
#include "result_exit.h"

namespace vk61::cli {

namespace {

// The server's manifest (never a cached copy, as the window's firmware
// fetch), parsed; it lands in the cache.
int fetch_online_packages(const Context& context, QList<FirmwarePackage>* packages) {
    const FetchResult fetched = fetch_manifest_online(context.manifests);
    if (!fetched.ok()) {
        return context.fail(
            exit_code(fetched),
            QStringLiteral("Could not download the firmware manifest from the server (%1)").arg(describe(fetched)));
    }
    if (const DownloadResult parsed = parse_firmware_manifest(fetched.body, packages); !parsed.ok()) {
        return context.fail(exit_code(parsed),
                            QStringLiteral("Could not parse firmware manifest: %1").arg(describe(parsed)));
    }
    return kExitOk;
}

int print_path(const Context& context, const QString& path) {
    if (context.json) context.print_json(QJsonObject{{"path", path}});
    context.say(path);
    return kExitOk;
}

}  // namespace

int fetch_firmware_for(const Context& context, std::uint32_t device_id, QString* path) {
    QList<FirmwarePackage> packages;
    if (const int code = fetch_online_packages(context, &packages); code != kExitOk) return code;
    const FirmwarePackage* package = find_firmware_for_device(packages, device_id);
    if (package == nullptr) {
        return context.fail(
            kExitDownload,
            QStringLiteral("No firmware package in the manifest matches device %1").arg(serialText(device_id)));
    }
    context.err << "Downloading firmware: " << package->firmware_file.toStdString() << '\n' << std::flush;
    // Resolving proves the file against the manifest's digest (and its size
    // against the firmware limit) before it is named here.
    const FileResult resolved = package->resolve_local_path(context.env.downloads);
    if (!resolved.ok()) return context.fail(exit_code(resolved), describe(resolved));
    *path = resolved.path;
    return kExitOk;
}

int fetch_airport_database(const Context& context, QString* path) {
    const FetchResult loaded = load_manifest_bytes(context.manifests);
    if (!loaded.ok()) {
        return context.fail(exit_code(loaded),
                            QStringLiteral("Could not load downloads manifest: %1").arg(describe(loaded)));
    }
    QList<DatabasePackage> databases;
    if (const DownloadResult parsed = parse_database_manifest(loaded.body, &databases); !parsed.ok()) {
        return context.fail(exit_code(parsed),
                            QStringLiteral("Could not parse database manifest: %1").arg(describe(parsed)));
    }
    const DatabasePackage* package = find_latest_database(databases, QStringLiteral("airport"));
    if (package == nullptr) {
        return context.fail(kExitDownload,
                            QStringLiteral("No airport database entry found in downloads_manifest.json."));
    }
    context.err << "Downloading airport database: "
                << (package->display_name.isEmpty() ? package->database_file : package->display_name).toStdString()
                << '\n'
                << std::flush;
    const FileResult resolved = package->resolve_local_path(context.env.downloads);
    if (!resolved.ok()) return context.fail(exit_code(resolved), describe(resolved));
    *path = resolved.path;
    return kExitOk;
}

int run_fetch_manifest(const Context& context) {
    const FetchResult fetched = fetch_manifest_online(context.manifests);
    if (!fetched.ok()) {
        return context.fail(
            exit_code(fetched),
            QStringLiteral("Could not download the firmware manifest from the server (%1)").arg(describe(fetched)));
    }
    // Only a manifest that passed every check is in the cache: one with a bad
    // entry is refused here, naming the entry, and the cached copy stays.
    if (const DownloadResult checked = check_manifest(fetched.body); !checked.ok()) {
        return context.fail(exit_code(checked),
                            QStringLiteral("Refused the downloads manifest: %1").arg(describe(checked)));
    }
    return print_path(context, manifest_cache_path());
}

int run_fetch_firmware(const Context& context, std::optional<std::uint32_t> device_id) {
    if (!device_id) {
        BusSession session(context);
        if (const int code = session.open(); code != kExitOk) return code;
        const DeviceInfo* unit = choose_fetch_unit(session.units(), session.comms().primary_uid());
        device_id = unit->device_id;
    }
    QString path;
    if (const int code = fetch_firmware_for(context, *device_id, &path); code != kExitOk) return code;
    return print_path(context, path);
}

int run_fetch_airports(const Context& context) {
    QString path;
    if (const int code = fetch_airport_database(context, &path); code != kExitOk) return code;
    return print_path(context, path);
}

}  // namespace vk61::cli
