// The firmware worker's file handling, kept apart so that it can be tested
// and fuzzed without a bus. Every failure writes its line to the log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/firmware_header.h"

namespace vk61 {

// Reads the 64-byte header from the start of the file (path in the local
// 8-bit encoding) and, when file_size is given, the file's size in bytes.
bool read_firmware_header(const std::string& path, FirmwareHeader* header, std::int64_t* file_size = nullptr);

// Reads encrypted_size bytes of image body behind the header. The buffer is
// sized by what the file holds, never by the header's word alone: a damaged
// or hostile encrypted_size (0xFFFFFFFF, say) ends with the short-read line,
// not with an allocation of 4 GiB.
bool read_firmware_body(const std::string& path, std::uint32_t encrypted_size, std::vector<std::uint8_t>* body);

// Whether the file can go to the units as it stands, judged from the header
// and the file size alone so that it runs before any unit is touched: the
// file holds the whole body (64 + encrypted_size bytes), and the image (image
// offset + encrypted_size) lies behind the header and inside total_size,
// which is what every unit erases from its write address. Logs the line of
// the first check that fails.
bool firmware_file_fits(const FirmwareHeader& header, std::int64_t file_size);

}  // namespace vk61
