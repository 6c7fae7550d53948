// The firmware update sequence as the update tab runs it on its worker
// thread: read the file's header, prepare, erase, write the image, write the
// header. Knows nothing of the window; progress goes through the callback,
// success through on_success and the returned result.
#pragma once

#include <functional>
#include <string>

#include "flash/firmware_file.h"
#include "flash/flash_types.h"
#include "operation_result.h"

namespace vk61 {

class CommsManager;

// Time-outs of the sequence; tests may shorten them.
struct FirmwareUpdateTimeouts {
    unsigned prepare_ms = 2000;
    unsigned erase_ms = 120000;  // the whole erase run
    unsigned write_ms = 10000;   // each echo wait of the image write
};

// Blocks the calling thread for the whole update: prepare up to
// timeouts.prepare_ms, the erase run up to timeouts.erase_ms, then each echo
// of the image write up to timeouts.write_ms; every wait ends at once when
// the manager disconnects or the link drops. Each failure is logged and ends
// the sequence at that step; the result names it. on_success is called (on
// this thread) only after the header was written. Every unit receives the
// bytes of image: the file is not read again.
OperationResult run_firmware_update(CommsManager& comms, const FirmwareImage& image, const ProgressCallback& progress,
                                    const std::function<void()>& on_success,
                                    const FirmwareUpdateTimeouts& timeouts = {});

// The same, reading the file (path in the local 8-bit encoding) once first.
OperationResult run_firmware_update(CommsManager& comms, const std::string& path_local8bit,
                                    const ProgressCallback& progress, const std::function<void()>& on_success,
                                    const FirmwareUpdateTimeouts& timeouts = {});

}  // namespace vk61
