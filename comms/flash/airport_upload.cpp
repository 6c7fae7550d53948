// Replacing the airport database of one unit: close it, erase the blocks the
// file needs from address 0, write the file there, open it again.
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

#include "comms_manager.h"
#include "protocol.h"
#include "debug_log.h"
#include "flash/binary_file.h"

namespace vk61 {

namespace {
constexpr unsigned kDbAckTimeoutMs = 5000;
constexpr std::uint32_t kDbAddress = 0;
constexpr unsigned kMaxDbBlocks = 832;  // 54,525,952 bytes
constexpr std::int64_t kMaxDbBytes = std::int64_t{kMaxDbBlocks} << 16;
// Lets the unit finish closing its database before the first erase.
constexpr auto kAfterCloseSettle = std::chrono::milliseconds(10);
}  // namespace

// Blocks the calling worker for the whole unit: up to 5000 ms for each of the
// close and open acknowledgements, erase_timeout_ms for the erase run and
// write_timeout_ms for each echo of the write.
OperationResult CommsManager::upload_airport_db(std::uint8_t uid, const char* path, unsigned erase_timeout_ms,
                                                unsigned write_timeout_ms, ProgressFn progress, const void* user) {
    const auto failure = [uid](OperationStep step, FailureReason why) {
        return OperationResult::failure(step, why, uid);
    };
    if (!is_connected()) {
        debug_log("upload_airport_db: not connected\n");
        return failure(OperationStep::CloseDatabase, FailureReason::NotConnected);
    }
    if (path == nullptr || *path == '\0') {
        debug_log("upload_airport_db: invalid file path\n");
        return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
    }

    std::vector<std::uint8_t> database;
    {
        BinaryFile file(path);
        if (!file.is_open()) {
            debug_log("upload_airport_db: failed to open %s\n", path);
            return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
        }
        if (!file.seek_end()) {
            debug_log("upload_airport_db: failed to seek end of file\n");
            return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
        }
        // The size is taken in 64 bits: a file over 2 GiB must be refused as
        // too large, not wrapped into a small size and uploaded truncated.
        const std::int64_t size = file.tell().value_or(-1);
        if (size <= 0) {
            debug_log("upload_airport_db: empty or invalid file size\n");
            return failure(OperationStep::CheckFile, FailureReason::InvalidRequest);
        }
        const std::int64_t blocks = (size + 0xFFFF) >> 16;
        if (size > kMaxDbBytes) {
            debug_log("upload_airport_db: file too large (%llu bytes, %llu blocks); max %u blocks\n",
                      static_cast<unsigned long long>(size), static_cast<unsigned long long>(blocks), kMaxDbBlocks);
            return failure(OperationStep::CheckFile, FailureReason::FileTooLarge);
        }
        database.assign(static_cast<std::size_t>(size), 0);
        const std::size_t got = file.seek(0) ? file.read(database.data(), database.size()) : 0;
        if (got != database.size()) {
            debug_log("upload_airport_db: failed to read file (%zu / %u bytes)\n", got,
                      static_cast<unsigned>(database.size()));
            return failure(OperationStep::ReadFile, FailureReason::FileUnreadable);
        }
    }
    const auto size = static_cast<std::uint32_t>(database.size());
    const std::uint32_t blocks = (size + 0xFFFF) >> 16;
    const std::uint32_t command = protocol::kAirportDb | (uid & protocol::kUidMask);

    debug_log("upload_airport_db (UID %u): %u bytes, erasing %u blocks from 0x%08X\n", uid, size, blocks, kDbAddress);

    // Closes or opens the unit's database: `what` is "close" or "open".
    const auto database_command = [&](std::uint8_t operation, OperationStep step, const char* what) {
        bool sent = false;
        const OperationResult acked = wait_legacy_ack(
            uid, static_cast<std::uint16_t>(command),
            [&] { return sent = send_command(command, protocol::kDlcAirportDb, &operation, 1); }, kDbAckTimeoutMs,
            step);
        if (!acked) {
            debug_log(sent ? "upload_airport_db: %s DB not acknowledged\n" : "upload_airport_db: %s DB command failed\n",
                      what);
        }
        return acked;
    };

    debug_log("upload_airport_db: closing airport DB on UID %u\n", uid);
    OperationResult step = database_command(protocol::kCloseAirportDb, OperationStep::CloseDatabase, "close");
    if (!step) return step;
    debug_log("upload_airport_db: close DB acknowledged\n");
    std::this_thread::sleep_for(kAfterCloseSettle);

    step = erase_fw_update_blocks({FirmwareTarget{uid, kDbAddress}}, size, erase_timeout_ms, progress, user);
    if (!step) {
        debug_log("upload_airport_db: erase failed on UID %u\n", uid);
        return step;
    }
    step = extflash_raw(uid, kDbAddress, database.data(), database.size(), write_timeout_ms, progress, user);
    if (!step) {
        debug_log("upload_airport_db: write failed on UID %u\n", uid);
        return step;
    }

    debug_log("upload_airport_db: opening airport DB on UID %u\n", uid);
    step = database_command(protocol::kOpenAirportDb, OperationStep::OpenDatabase, "open");
    if (!step) return step;
    debug_log("upload_airport_db: complete on UID %u\n", uid);
    return OperationResult::success();
}

}  // namespace vk61
