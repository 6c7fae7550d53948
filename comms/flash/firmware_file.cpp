// Reading an untrusted firmware file: the header, the body, and whether the
// file can be written into the space the units erase for it.
#include "flash/firmware_file.h"

#include <algorithm>
#include <optional>

#include "debug_log.h"
#include "flash/binary_file.h"

namespace vk61 {

bool read_firmware_header(const std::string& path, FirmwareHeader* header, std::int64_t* file_size) {
    BinaryFile file(path.c_str());
    if (!file.is_open()) {
        debug_log("firmware update: failed to open %s\n", path.c_str());
        return false;
    }
    if (file.read(header->data(), FirmwareHeader::kSize) != FirmwareHeader::kSize) {
        debug_log("firmware update: failed to read firmware header\n");
        return false;
    }
    if (file_size != nullptr) {
        const std::optional<std::int64_t> size = file.seek_end() ? file.tell() : std::nullopt;
        if (!size) {
            debug_log("firmware update: failed to seek past header\n");
            return false;
        }
        *file_size = *size;
    }
    return true;
}

// Reads the image body that follows the header. The buffer is sized by what
// the file holds, never by the header's word alone: a damaged or hostile
// encrypted_size (0xFFFFFFFF, say) must end with the short-read line, not
// with an allocation of 4 GiB.
bool read_firmware_body(const std::string& path, std::uint32_t encrypted_size, std::vector<std::uint8_t>* body) {
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

bool firmware_file_fits(const FirmwareHeader& header, std::int64_t file_size) {
    // The short-read line the body read would give later, only sooner: a
    // file cut short must not cost the units their erased space.
    const std::int64_t available = std::max<std::int64_t>(0, file_size - std::int64_t{FirmwareHeader::kSize});
    if (available < std::int64_t{header.encrypted_size()}) {
        debug_log("firmware update: failed to read encrypted image (%zu/%u bytes)\n", static_cast<std::size_t>(available),
                  header.encrypted_size());
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
