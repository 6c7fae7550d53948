// Replacing the airport database of one unit: close it, erase the blocks the
// file needs from address 0, write the file there, open it again.
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

#include "flash/airport_database.h"

#include "debug_log.h"
#include "flash/airport_file.h"
#include "protocol.h"

namespace vk61 {

namespace {
constexpr unsigned kDbAckTimeoutMs = 5000;
constexpr std::uint32_t kDbAddress = 0;
// Lets the unit finish closing its database before the first erase.
constexpr auto kAfterCloseSettle = std::chrono::milliseconds(10);
}  // namespace

AirportDatabase::AirportDatabase(Link& link, SettingsChannel& settings, EraseRun& erase, FlashWriter& writer)
    : link_(link), settings_(settings), erase_(erase), writer_(writer) {}

// Blocks the calling worker for the whole unit: up to 5000 ms for each of the
// close and open acknowledgements, erase_timeout_ms for the erase run and
// write_timeout_ms for each echo of the write.
OperationResult AirportDatabase::upload_airport_db(std::uint8_t uid, const char* path, unsigned erase_timeout_ms,
                                                   unsigned write_timeout_ms, const ProgressCallback& progress) {
    const auto failure = [uid](OperationStep step, FailureReason why) {
        return OperationResult::failure(step, why, uid);
    };
    if (!link_.is_connected()) {
        debug_log("upload_airport_db: not connected\n");
        return failure(OperationStep::CloseDatabase, FailureReason::NotConnected);
    }
    std::vector<std::uint8_t> database;
    if (const OperationResult read = read_airport_database(path, &database); !read) {
        return OperationResult::failure(read.step, read.reason, uid);
    }
    return upload_airport_db(uid, database.data(), database.size(), erase_timeout_ms, write_timeout_ms, progress,
                             nullptr);
}

// Blocks as above; data is not copied and must outlive the call.
OperationResult AirportDatabase::upload_airport_db(std::uint8_t uid, const std::uint8_t* data, std::uint64_t data_size,
                                                   unsigned erase_timeout_ms, unsigned write_timeout_ms,
                                                   const ProgressCallback& progress, FlashConfirmed* confirmed) {
    const auto failure = [uid](OperationStep step, FailureReason why) {
        return OperationResult::failure(step, why, uid);
    };
    if (!link_.is_connected()) {
        debug_log("upload_airport_db: not connected\n");
        return failure(OperationStep::CloseDatabase, FailureReason::NotConnected);
    }
    if (const OperationResult checked =
            check_airport_database_size(data == nullptr ? 0 : static_cast<std::int64_t>(data_size));
        !checked) {
        return failure(checked.step, checked.reason);
    }
    const auto size = static_cast<std::uint32_t>(data_size);
    const auto blocks = static_cast<std::uint32_t>(protocol::blocks_for(size));

    debug_log("upload_airport_db (UID %u): %u bytes, erasing %u blocks from 0x%08X\n", uid, size, blocks, kDbAddress);

    // Closes or opens the unit's database: `what` is "close" or "open".
    const auto database_command = [&](bool open, const char* what) {
        bool sent = false;
        const OperationResult acked = airport_db_command(uid, open, &sent);
        if (!acked) {
            debug_log(
                sent ? "upload_airport_db: %s DB not acknowledged\n" : "upload_airport_db: %s DB command failed\n",
                what);
        }
        return acked;
    };

    debug_log("upload_airport_db: closing airport DB on UID %u\n", uid);
    OperationResult step = database_command(false, "close");
    if (!step) return step;
    debug_log("upload_airport_db: close DB acknowledged\n");
    std::this_thread::sleep_for(kAfterCloseSettle);

    step =
        erase_.erase_fw_update_blocks({FirmwareTarget{uid, kDbAddress}}, size, erase_timeout_ms, progress, confirmed);
    if (!step) {
        debug_log("upload_airport_db: erase failed on UID %u\n", uid);
        return step;
    }
    step = writer_.extflash_raw(uid, kDbAddress, data, data_size, write_timeout_ms, progress, confirmed);
    if (!step) {
        debug_log("upload_airport_db: write failed on UID %u\n", uid);
        return step;
    }

    debug_log("upload_airport_db: opening airport DB on UID %u\n", uid);
    step = database_command(true, "open");
    if (!step) return step;
    debug_log("upload_airport_db: complete on UID %u\n", uid);
    return OperationResult::success();
}

OperationResult AirportDatabase::airport_db_command(std::uint8_t uid, bool open, bool* sent) {
    const std::uint32_t command = protocol::kAirportDb | (uid & protocol::kUidMask);
    const std::uint8_t operation = open ? protocol::kOpenAirportDb : protocol::kCloseAirportDb;
    bool was_sent = false;
    const OperationResult acked = settings_.wait_legacy_ack(
        uid, static_cast<std::uint16_t>(command),
        [&] { return was_sent = link_.send_command(command, protocol::kDlcAirportDb, &operation, 1); }, kDbAckTimeoutMs,
        open ? OperationStep::OpenDatabase : OperationStep::CloseDatabase);
    if (sent != nullptr) *sent = was_sent;
    return acked;
}

}  // namespace vk61
