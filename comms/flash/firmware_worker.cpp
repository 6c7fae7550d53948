#include "flash/firmware_worker.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "comms_manager.h"
#include "debug_log.h"
#include "flash/binary_file.h"
#include "flash/firmware_header.h"

namespace vk61 {

namespace {

// Reads the image body that follows the header. The buffer is sized by what
// the file holds, never by the header's word alone: a damaged or hostile
// encrypted_size (0xFFFFFFFF, say) must end with the short-read line, not
// with an allocation of 4 GiB.
bool read_image_body(const std::string& path, std::uint32_t encrypted_size, std::vector<std::uint8_t>* body) {
    BinaryFile file(path.c_str());
    if (!file.is_open()) {
        debug_log("firmware update: failed to reopen %s for image read\n", path.c_str());
        return false;
    }
    const std::optional<std::int64_t> file_size = file.seek_end() ? file.tell() : std::nullopt;
    if (!file_size || !file.seek(FirmwareHeader::kSize)) {
        debug_log("firmware update: failed to seek past header\n");
        return false;
    }
    const std::int64_t available = std::max<std::int64_t>(0, *file_size - std::int64_t{FirmwareHeader::kSize});
    const auto to_read = static_cast<std::size_t>(std::min<std::int64_t>(encrypted_size, available));
    body->assign(to_read, 0);
    const std::size_t got = file.read(body->data(), to_read);
    file.close();
    if (got < encrypted_size) {
        debug_log("firmware update: failed to read encrypted image (%zu/%u bytes)\n", got, encrypted_size);
        return false;
    }
    return true;
}

}  // namespace

void run_firmware_update(CommsManager& comms, const std::string& path_local8bit, ProgressFn progress,
                         const void* progress_user, const std::function<void()>& on_success,
                         const FirmwareUpdateTimeouts& timeouts) {
    FirmwareHeader header;
    {
        BinaryFile file(path_local8bit.c_str());
        if (!file.is_open()) {
            debug_log("firmware update: failed to open %s\n", path_local8bit.c_str());
            return;
        }
        if (file.read(header.data(), FirmwareHeader::kSize) != FirmwareHeader::kSize) {
            debug_log("firmware update: failed to read firmware header\n");
            return;
        }
    }
    debug_log("firmware update: image total_size=%u bytes\n", header.total_size());

    std::vector<FirmwareTarget> targets;
    if (!comms.prepare_fw_update(&targets, timeouts.prepare_ms)) {
        debug_log("prepare_fw_update: failed\n");
        return;
    }
    debug_log("prepare_fw_update: received %zu device address(es)\n", targets.size());
    for (const FirmwareTarget& target : targets) {
        debug_log("  UID %u -> 0x%08X\n", target.uid, target.write_address);
    }

    if (!comms.erase_fw_update_blocks(targets, header.total_size(), timeouts.erase_ms, progress, progress_user)) {
        debug_log("erase_fw_update_blocks: failed\n");
        return;
    }

    const std::uint32_t encrypted_size = header.encrypted_size();
    if (encrypted_size == 0) {
        debug_log("firmware update: encrypted_size is zero\n");
        return;
    }
    std::vector<std::uint8_t> body;
    if (!read_image_body(path_local8bit, encrypted_size, &body)) return;

    // The image must lie inside the space just erased and behind the header:
    // anything else would program flash that was never erased (or the
    // header's own bytes) and leave the units with a corrupted image.
    const std::uint64_t image_end = std::uint64_t{header.image_offset()} + encrypted_size;
    if (header.image_offset() < FirmwareHeader::kSize || image_end > header.total_size()) {
        debug_log("firmware update: image does not fit the erased space (offset 0x%08X + %u bytes, total_size %u)\n",
                  header.image_offset(), encrypted_size, header.total_size());
        return;
    }

    if (!comms.write_fw_image(targets, header.image_offset(), body.data(), body.size(), header.data(),
                              timeouts.write_ms, progress, progress_user)) {
        debug_log("write_fw_image: failed\n");
        return;
    }
    debug_log("firmware update: prepare, erase, image, and header write complete\n");
    if (on_success) on_success();
}

}  // namespace vk61
