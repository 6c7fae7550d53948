// The commands. Each returns its exit code, having reported any failure.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_context.h"

namespace vk61::cli {

// commands_units.cpp
int run_list(const Context& context);
int run_reboot(const Context& context, bool wait);

// commands_config.cpp
int run_config_show(const Context& context);
int run_config_get(const Context& context, const std::vector<std::string>& names);
int run_config_set(const Context& context, const std::vector<std::string>& assignments, bool include_unstored);
int run_config_export(const Context& context, const QString& path);
struct ImportOptions {
    bool dry_run = false;
    bool force = false;             // apply a file of another memory version
    bool include_unstored = false;  // store even though the EFIS holds unstored working values
};
int run_config_import(const Context& context, const QString& path, const ImportOptions& options);

// commands_transfer.cpp; an empty path means --fetch.
struct FirmwareUpdateOptions {
    bool force = false;    // an update the firmware plan asks to confirm goes ahead
    bool reboot = false;   // reboot the units afterwards and check their configuration
    bool restore = false;  // with reboot: put the backup back when the configuration differs
};
int run_firmware_update(const Context& context, const QString& path, const FirmwareUpdateOptions& options);
struct AirportUploadOptions {
    bool one_at_a_time = false;  // each unit in turn, stopping at the first failure
    bool resume = false;         // go on with an interrupted upload of the same file to the same units
};
int run_airports_upload(const Context& context, const QString& path, const AirportUploadOptions& options);

// commands_update_check.cpp: after a successful update, reboots the units of
// session, waits for every one of them, loads the configuration and compares
// it with backup (the file taken before the update; "" when none was), and
// with restore stores the backup's settings when they differ. Adds what it
// found to *result; returns the exit code once reported.
int check_after_update(const Context& context, BusSession& session, const QString& backup, bool restore,
                       QJsonObject* result);

// commands_fetch.cpp
int run_fetch_manifest(const Context& context);
int run_fetch_firmware(const Context& context, std::optional<std::uint32_t> device_id);
int run_fetch_airports(const Context& context);

// Downloads shared by fetch and the --fetch options (commands_fetch.cpp):
// each verifies what it got against the manifest's digest. They return
// kExitOk with *path set, or the reported exit code.
int fetch_firmware_for(const Context& context, std::uint32_t device_id, QString* path);
int fetch_airport_database(const Context& context, QString* path);

}  // namespace vk61::cli
