// The exit code of every result the command-line tool reports, in one place:
// kExitNotConnected when there was no link to begin with, kExitBadInput for a
// refusal before anything was sent, kExitBusFailure for whatever went wrong
// on the bus or a unit, kExitOk for success. The message that goes with each
// is the result's describe().
#pragma once

#include "core/airport_transfer.h"
#include "core/config_exchange.h"
#include "core/reboot_wait.h"
#include "core/transfer_files.h"
#include "downloads/download_result.h"
#include "engine_calls.h"
#include "exit_codes.h"
#include "files/checked_file_writer.h"
#include "operation_result.h"
#include "trace/pcap_trace.h"

namespace vk61::cli {

ExitCode exit_code(const OperationResult& result);
// A load that ran to the end with settings unread is a bus failure; a command
// that accepts an incomplete load warns instead of asking.
ExitCode exit_code(const LoadResult& result);
ExitCode exit_code(const UpdateResult& result);
ExitCode exit_code(const StoreResult& result);
// A transfer starts only after its file was read and checked and the units
// answered, so whatever stops it (a lost link included) is a bus failure.
ExitCode exit_code(const AirportResult& result);
ExitCode exit_code(const AirportJobResult& result);
ExitCode exit_code(const TransferResult& result);
// Units that do not come back, or a command that could not be sent, are a
// bus failure.
ExitCode exit_code(const RebootResult& result);
// A trace file that cannot be written is bad input: nothing was sent yet.
ExitCode exit_code(const TraceResult& result);
// A file the user named that cannot be written is bad input.
ExitCode exit_code(const FileWriteResult& result);
// A file that does not match its manifest's digest is a download failure;
// any other file that cannot be sent is bad input.
ExitCode exit_code(const LoadedFirmware& loaded);
ExitCode exit_code(const LoadedDatabase& loaded);
// kExitOk on success; every download, manifest, file or digest failure is
// kExitDownload, as --help documents.
ExitCode exit_code(const DownloadResult& result);

}  // namespace vk61::cli
