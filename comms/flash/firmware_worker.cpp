#include "flash/firmware_worker.h"

#include <cstdint>
#include <vector>

#include "comms_manager.h"
#include "debug_log.h"
#include "flash/firmware_file.h"
#include "flash/firmware_header.h"

namespace vk61 {

OperationResult run_firmware_update(CommsManager& comms, const std::string& path_local8bit, ProgressFn progress,
                                    const void* progress_user, const std::function<void()>& on_success,
                                    const FirmwareUpdateTimeouts& timeouts) {
    const auto failure = [](OperationStep step, FailureReason why) { return OperationResult::failure(step, why); };
    FirmwareHeader header;
    std::int64_t file_size = 0;
    if (!read_firmware_header(path_local8bit, &header, &file_size)) {
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }
    debug_log("firmware update: image total_size=%u bytes\n", header.total_size());
    // A file that cannot be written whole is refused before any unit is
    // asked for anything. A file without a body keeps its old order: the
    // units' space is erased, and then the update stops on the zero size.
    if (header.encrypted_size() != 0 && !firmware_file_fits(header, file_size)) {
        const bool short_file = file_size - std::int64_t{FirmwareHeader::kSize} < std::int64_t{header.encrypted_size()};
        return failure(OperationStep::CheckFile,
                       short_file ? FailureReason::FileIncomplete : FailureReason::ImageOutsideErase);
    }

    std::vector<FirmwareTarget> targets;
    OperationResult result = comms.prepare_fw_update(&targets, timeouts.prepare_ms);
    if (!result) {
        debug_log("prepare_fw_update: failed\n");
        return result;
    }
    debug_log("prepare_fw_update: received %zu device address(es)\n", targets.size());
    for (const FirmwareTarget& target : targets) {
        debug_log("  UID %u -> 0x%08X\n", target.uid, target.write_address);
    }

    result = comms.erase_fw_update_blocks(targets, header.total_size(), timeouts.erase_ms, progress, progress_user);
    if (!result) {
        debug_log("erase_fw_update_blocks: failed\n");
        return result;
    }

    const std::uint32_t encrypted_size = header.encrypted_size();
    if (encrypted_size == 0) {
        debug_log("firmware update: encrypted_size is zero\n");
        return failure(OperationStep::CheckFile, FailureReason::EmptyImage);
    }
    std::vector<std::uint8_t> body;
    if (!read_firmware_body(path_local8bit, encrypted_size, &body)) {
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }

    result = comms.write_fw_image(targets, header.image_offset(), body.data(), body.size(), header.data(),
                                  timeouts.write_ms, progress, progress_user);
    if (!result) {
        debug_log("write_fw_image: failed\n");
        return result;
    }
    debug_log("firmware update: prepare, erase, image, and header write complete\n");
    if (on_success) on_success();
    return result;
}

}  // namespace vk61
