// Reading an untrusted firmware file, and whether it can be written into the
// space the units erase for it.
#include "flash/firmware_file.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "debug_log.h"
#include "flash/binary_file.h"

namespace vk61 {

std::uint64_t FirmwareImage::body_size() const {
    const std::uint64_t held = file.size() > FirmwareHeader::kSize ? file.size() - FirmwareHeader::kSize : 0;
    return std::min<std::uint64_t>(header.encrypted_size(), held);
}

OperationResult read_firmware_image(const std::string& path, FirmwareImage* image) {
    const auto failure = [](OperationStep step, FailureReason why) { return OperationResult::failure(step, why); };
    image->file.clear();
    BinaryFile file(path.c_str());
    if (!file.is_open()) {
        debug_log("firmware update: failed to open %s\n", path.c_str());
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }
    const std::optional<std::int64_t> size = file.seek_end() ? file.tell() : std::nullopt;
    if (!size || !file.seek(0)) {
        debug_log("firmware update: failed to seek past header\n");
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }
    if (*size < static_cast<std::int64_t>(FirmwareHeader::kSize)) {
        debug_log("firmware update: failed to read firmware header\n");
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }
    // Before the read: a file no unit can hold is not worth the memory.
    if (*size > kMaxFirmwareFileBytes) {
        debug_log("firmware update: file too large (%lld bytes); max %lld bytes\n", static_cast<long long>(*size),
                  static_cast<long long>(kMaxFirmwareFileBytes));
        return failure(OperationStep::CheckFile, FailureReason::FileTooLarge);
    }
    image->file.assign(static_cast<std::size_t>(*size), 0);
    const std::size_t got = file.read(image->file.data(), image->file.size());
    if (got != image->file.size()) {
        debug_log("firmware update: failed to read firmware file (%zu / %lld bytes)\n", got,
                  static_cast<long long>(*size));
        image->file.clear();
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }
    std::memcpy(image->header.data(), image->file.data(), FirmwareHeader::kSize);
    return OperationResult::success();
}

bool firmware_file_fits(const FirmwareHeader& header, std::int64_t file_size) {
    // The short-read line the body read would give later, only sooner: a
    // file cut short must not cost the units their erased space.
    const std::int64_t available = std::max<std::int64_t>(0, file_size - std::int64_t{FirmwareHeader::kSize});
    if (available < std::int64_t{header.encrypted_size()}) {
        debug_log("firmware update: failed to read encrypted image (%zu/%u bytes)\n",
                  static_cast<std::size_t>(available), header.encrypted_size());
        return false;
    }
    // The image must lie inside the space every unit erases and behind the
    // header: anything else would program flash that was never erased (or
    // the header's own bytes) and leave the units with a corrupted image.
    const std::uint64_t image_end = std::uint64_t{header.image_offset()} + header.encrypted_size();
    if (header.image_offset() >= FirmwareHeader::kSize && image_end <= header.total_size()) return true;
    debug_log("firmware update: image does not fit the erased space (offset 0x%08X + %u bytes, total_size %u)\n",
              header.image_offset(), header.encrypted_size(), header.total_size());
    return false;
}

}  // namespace vk61
