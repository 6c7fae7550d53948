// The airport database file as the upload sends it: read into memory once,
// whole, before anything is sent, so every unit receives the same bytes (and
// the bytes a digest was checked over). Its size is checked before a byte is
// read. Every failure writes its line to the log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/transfer_limits.h"
#include "operation_result.h"

namespace vk61 {

// Whether size bytes can go to the units (1 .. kMaxAirportDatabaseBytes);
// logs the line of the check that fails.
OperationResult check_airport_database_size(std::int64_t size);

// Reads the file (path in the local 8-bit encoding) whole into *bytes.
OperationResult read_airport_database(const char* path, std::vector<std::uint8_t>* bytes);

}  // namespace vk61
