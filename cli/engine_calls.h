// Every call the command-line tool makes into the bus engine, its workers and
// the configuration exchange, in one place: the engine reports each
// operation's outcome as a result value (OperationResult: the step, the unit
// and the reason) or in small result structs, and this file turns that into
// what the commands need.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"
#include "core/airport_transfer.h"
#include "core/config_exchange.h"
#include "device_info.h"
#include "flash/firmware_file.h"
#include "flash/flash_types.h"

namespace vk61 {
class CommsManager;
}

namespace vk61::cli {

enum class TransferKind : std::uint8_t { Firmware, AirportDatabase };

enum class TransferEnd : std::uint8_t {
    Done,        // every unit got it
    Failed,      // `failure` says where it stopped
    Unreported,  // the firmware worker returned without reporting the header in place
};

// What a transfer came to.
struct TransferResult {
    TransferKind kind = TransferKind::Firmware;
    TransferEnd end = TransferEnd::Failed;
    OperationResult failure;  // Failed: where it stopped (for airports, the first unit that failed)
    AirportResult airports;   // AirportDatabase: every unit's end

    bool ok() const { return end == TransferEnd::Done; }
};

// "Firmware upload complete", "Airport database transfer finished on all 2
// device(s)", or the failure: "the firmware update failed: erase failed on
// UID 2: timed out", "the airport database transfer failed: UID 1 holds the
// new airport database; UID 2 does not (...) (1 / 2 succeeded)".
QString describe(const TransferResult& result);

// Opens the bridge (USB HID, else CAN FD) and starts discovery.
OperationResult connect_bridge(CommsManager& comms);

// Waits until every unit that answered has identified itself and nothing new
// was heard for timings.discovery_quiet, at most timings.discovery_limit (or
// until stop is set). Returns the identified units in registry order.
std::vector<DeviceInfo> discover_units(CommsManager& comms, const CliTimings& timings, const std::atomic<bool>* stop);

LoadResult load_configuration(ConfigExchange& exchange);
StoreResult store_settings(ConfigExchange& exchange);

// Broadcasts the reboot command.
OperationResult send_reboot(CommsManager& comms);

// The firmware worker: prepare, erase, image, header on every unit, each
// receiving the bytes of image.
TransferResult update_firmware(CommsManager& comms, const FirmwareImage& image, const ProgressCallback& progress,
                               const FirmwareUpdateTimeouts& timeouts);

// The airport upload of the job (to every unit at once, one after another or
// resumed). on_unit_start runs before each unit of a one-at-a-time upload, on
// the calling thread. *result (may be null) gets the units' outcomes.
TransferResult upload_airports(CommsManager& comms, const AirportJob& job, const AirportUnitStart& on_unit_start,
                               const ProgressCallback& progress, AirportJobResult* result);

}  // namespace vk61::cli
