// Every call the command-line tool makes into the bus engine, its workers and
// the configuration exchange, in one place: the engine reports each
// operation's outcome as a result value (OperationResult: the step, the unit
// and the reason) or in small result structs, and this file turns that into
// what the commands need.
#pragma once

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

// What a transfer came to.
struct TransferOutcome {
    bool ok = false;
    int units_done = 0;
    int units_total = 0;
    std::uint8_t failed_uid = 0;  // 0: none, or not known
    std::string failure;          // for people; empty on success
};

// Opens the bridge (USB HID, else CAN FD) and starts discovery.
bool connect_bridge(CommsManager& comms);

// Waits until every unit that answered has identified itself and nothing new
// was heard for timings.discovery_quiet, at most timings.discovery_limit (or
// until stop is set). Returns the identified units in registry order.
std::vector<DeviceInfo> discover_units(CommsManager& comms, const CliTimings& timings, const std::atomic<bool>* stop);

LoadResult load_configuration(ConfigExchange& exchange);
StoreResult store_settings(ConfigExchange& exchange);

// Broadcasts the reboot command.
bool send_reboot(CommsManager& comms);

// The firmware worker: prepare, erase, image, header on every unit, each
// receiving the bytes of image.
TransferOutcome update_firmware(CommsManager& comms, const FirmwareImage& image, const ProgressCallback& progress,
                                const FirmwareUpdateTimeouts& timeouts);

// The airport upload of the job (to every unit at once, one after another or
// resumed). on_unit_start runs before each unit of a one-at-a-time upload, on
// the calling thread. *result (may be null) gets the units' outcomes.
TransferOutcome upload_airports(CommsManager& comms, const AirportJob& job, const AirportUnitStart& on_unit_start,
                                const ProgressCallback& progress, AirportJobResult* result);

}  // namespace vk61::cli
