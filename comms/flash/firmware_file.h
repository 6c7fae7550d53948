// The firmware file as the update sends it: read into memory once, whole,
// before anything is sent, so the bytes checked (digest, header, sizes) are
// the bytes every unit receives. Kept apart from the bus so that it can be
// tested and fuzzed without one. Every failure writes its line to the log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/firmware_header.h"
#include "flash/transfer_limits.h"
#include "operation_result.h"

namespace vk61 {

struct FirmwareImage {
    FirmwareHeader header;
    std::vector<std::uint8_t> file;  // the whole file as read, header included

    // The image body behind the header: encrypted_size bytes when the file
    // holds them (firmware_file_fits says so), fewer when it does not.
    const std::uint8_t* body() const { return file.data() + FirmwareHeader::kSize; }
    std::uint64_t body_size() const;
};

// Reads the file (path in the local 8-bit encoding) whole into *image. Its
// size is checked against kMaxFirmwareFileBytes before a byte is read; a file
// shorter than the header is refused.
OperationResult read_firmware_image(const std::string& path, FirmwareImage* image);

// Whether the file can go to the units as it stands, judged from the header
// and the file size alone so that it runs before any unit is touched: the
// file holds the whole body (64 + encrypted_size bytes), and the image (image
// offset + encrypted_size) lies behind the header and inside total_size,
// which is what every unit erases from its write address. Logs the line of
// the first check that fails.
bool firmware_file_fits(const FirmwareHeader& header, std::int64_t file_size);

}  // namespace vk61
