#include "transfer/firmware_worker.h"

#include <cstdint>
#include <vector>

#include "comms_manager.h"
#include "debug_log.h"
#include "flash/firmware_file.h"
#include "flash/firmware_header.h"

namespace vk61 {

OperationResult run_firmware_update(CommsManager& comms, const std::string& path_local8bit,
                                    const ProgressCallback& progress, const std::function<void()>& on_success,
                                    const FirmwareUpdateTimeouts& timeouts) {
    FirmwareImage image;
    if (const OperationResult read = read_firmware_image(path_local8bit, &image); !read) return read;
    return run_firmware_update(comms, image, progress, on_success, timeouts);
}

OperationResult run_firmware_update(CommsManager& comms, const FirmwareImage& image, const ProgressCallback& progress,
                                    const std::function<void()>& on_success, const FirmwareUpdateTimeouts& timeouts) {
    const auto failure = [](OperationStep step, FailureReason why) { return OperationResult::failure(step, why); };
    if (image.file.size() < FirmwareHeader::kSize) {
        debug_log("firmware update: failed to read firmware header\n");
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }
    const FirmwareHeader& header = image.header;
    const auto file_size = static_cast<std::int64_t>(image.file.size());
    debug_log("firmware update: image total_size=%u bytes\n", header.total_size());
    // A file that cannot be written whole is refused before any unit is
    // asked for anything. A file without a body keeps its old order: the
    // units' space is erased, and then the update stops on the zero size.
    if (header.encrypted_size() != 0 && !firmware_file_fits(header, file_size)) {
        const bool short_file = file_size - std::int64_t{FirmwareHeader::kSize} < std::int64_t{header.encrypted_size()};
        return failure(OperationStep::CheckFile,
                       short_file ? FailureReason::FileIncomplete : FailureReason::ImageOutsideErase);
    }

    // An erase no run can make (0xFFFFFFFF bytes, say, whose block count
    // wraps to 0) is refused before the prepare command, not after it.
    if (header.encrypted_size() != 0 && std::int64_t{header.total_size()} > kMaxEraseRunBytes) {
        debug_log("firmware update: total_size %u is more than an erase run can cover\n", header.total_size());
        return failure(OperationStep::CheckFile, FailureReason::InvalidRequest);
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

    result = comms.erase_fw_update_blocks(targets, header.total_size(), timeouts.erase_ms, progress);
    if (!result) {
        debug_log("erase_fw_update_blocks: failed\n");
        return result;
    }

    const std::uint32_t encrypted_size = header.encrypted_size();
    if (encrypted_size == 0) {
        debug_log("firmware update: encrypted_size is zero\n");
        return failure(OperationStep::CheckFile, FailureReason::EmptyImage);
    }
    // The fit check above holds the body to the file's size.
    if (image.body_size() != encrypted_size) {
        debug_log("firmware update: failed to read encrypted image (%zu/%u bytes)\n",
                  static_cast<std::size_t>(image.body_size()), encrypted_size);
        return failure(OperationStep::ReadFile, FailureReason::FileIncomplete);
    }
    result = comms.write_fw_image(targets, header.image_offset(), image.body(), image.body_size(), header.data(),
                                  timeouts.write_ms, progress);
    if (!result) {
        debug_log("write_fw_image: failed\n");
        return result;
    }
    debug_log("firmware update: prepare, erase, image, and header write complete\n");
    if (on_success) on_success();
    return result;
}

}  // namespace vk61
