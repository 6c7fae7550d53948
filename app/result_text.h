// The texts of the results the window shows, in one place: the connection's,
// the configuration exchange's (load, send, store) as the configuration
// panels show them, the airport upload's as the update tab does, the
// reboot's, and the downloads' dialog texts. Each failure's debug log line is
// written by the matching log function, so the panels only keep their own
// state.
#pragma once

#include <QString>

#include "core/config_exchange.h"
#include "core/reboot_wait.h"
#include "downloads/download_result.h"
#include "operation_result.h"
#include "transport/interface_kind.h"
#include "transfer/airport_worker.h"

namespace vk61 {

// The status after the window's connection attempt: the link that opened
// ("Connected via USB HID", "Connected via CAN FD"), or the request to check
// the connections. A failure's debug line is written by logConnectResult.
QString connectStatusText(const OperationResult& result, InterfaceKind kind);
void logConnectResult(const OperationResult& result);

// "Configuration successfully loaded from device", or what went wrong: an
// unread header word, an erased EFIS, settings left unread, a checksum that
// does not match. "" for a header word the panel has no text for.
QString loadStatusText(const LoadResult& result);
void logLoadResult(const LoadResult& result);

// What Send did: "Successfully sent 3 configuration value(s) to device", or
// the refusal as an error.
QString updateStatusText(const UpdateResult& result);
void logUpdateResult(const UpdateResult& result);

// What Save (device_options false) or Save devices did.
QString storeStatusText(const StoreResult& result, bool device_options);
void logStoreResult(const StoreResult& result, bool device_options);

// The end of an airport upload: finished on every unit, or where it failed
// ("Airport database transfer failed on UID 2 (1 / 3 succeeded)").
QString airportStatusText(const AirportResult& result);
// After a failed upload whose units went side by side (together), the status
// that follows: which units hold the new database. "" otherwise.
QString airportUnitsText(const AirportResult& result, bool together);

// The end of a reboot whose wait did not see the units back: "Error: Failed
// to send reboot command", the units that did not come back, or the cancel.
QString rebootStatusText(const RebootResult& result);

// The body of a download's warning dialog (and its log line): the result's
// own sentence, as the command-line tool prints it.
QString downloadFailureText(const DownloadResult& result);

}  // namespace vk61
