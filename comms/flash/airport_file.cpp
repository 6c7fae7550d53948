#include "flash/airport_file.h"

#include "debug_log.h"
#include "protocol.h"
#include "flash/binary_file.h"

namespace vk61 {

OperationResult check_airport_database_size(std::int64_t size) {
    if (size <= 0) {
        debug_log("upload_airport_db: empty or invalid file size\n");
        return OperationResult::failure(OperationStep::CheckFile, FailureReason::InvalidRequest);
    }
    // The size is taken in 64 bits: a file over 2 GiB must be refused as too
    // large, not wrapped into a small size and uploaded truncated.
    if (size > kMaxAirportDatabaseBytes) {
        const std::uint64_t blocks = protocol::blocks_for(static_cast<std::uint64_t>(size));
        debug_log("upload_airport_db: file too large (%llu bytes, %llu blocks); max %u blocks\n",
                  static_cast<unsigned long long>(size), static_cast<unsigned long long>(blocks),
                  kMaxAirportDatabaseBlocks);
        return OperationResult::failure(OperationStep::CheckFile, FailureReason::FileTooLarge);
    }
    return OperationResult::success();
}

OperationResult read_airport_database(const char* path, std::vector<std::uint8_t>* bytes) {
    const auto unreadable = OperationResult::failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    bytes->clear();
    if (path == nullptr || *path == '\0') {
        debug_log("upload_airport_db: invalid file path\n");
        return unreadable;
    }
    BinaryFile file(path);
    if (!file.is_open()) {
        debug_log("upload_airport_db: failed to open %s\n", path);
        return unreadable;
    }
    if (!file.seek_end()) {
        debug_log("upload_airport_db: failed to seek end of file\n");
        return unreadable;
    }
    const std::int64_t size = file.tell().value_or(-1);
    // Before the read: a file no unit can hold is not worth the memory.
    if (const OperationResult checked = check_airport_database_size(size); !checked) return checked;
    bytes->assign(static_cast<std::size_t>(size), 0);
    const std::size_t got = file.seek(0) ? file.read(bytes->data(), bytes->size()) : 0;
    if (got != bytes->size()) {
        debug_log("upload_airport_db: failed to read file (%zu / %u bytes)\n", got, static_cast<unsigned>(size));
        bytes->clear();
        return unreadable;
    }
    return OperationResult::success();
}

}  // namespace vk61
