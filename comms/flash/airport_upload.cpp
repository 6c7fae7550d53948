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
bool CommsManager::upload_airport_db(std::uint8_t uid, const char* path, unsigned erase_timeout_ms,
                                     unsigned write_timeout_ms, ProgressFn progress, const void* user) {
    if (!is_connected()) {
        debug_log("upload_airport_db: not connected\n");
        return false;
    }
    if (path == nullptr || *path == '\0') {
        debug_log("upload_airport_db: invalid file path\n");
        return false;
    }

    std::vector<std::uint8_t> database;
    {
        BinaryFile file(path);
        if (!file.is_open()) {
            debug_log("upload_airport_db: failed to open %s\n", path);
            return false;
        }
        if (!file.seek_end()) {
            debug_log("upload_airport_db: failed to seek end of file\n");
            return false;
        }
        // The size is taken in 64 bits: a file over 2 GiB must be refused as
        // too large, not wrapped into a small size and uploaded truncated.
        const std::int64_t size = file.tell().value_or(-1);
        if (size <= 0) {
            debug_log("upload_airport_db: empty or invalid file size\n");
            return false;
        }
        const std::int64_t blocks = (size + 0xFFFF) >> 16;
        if (size > kMaxDbBytes) {
            debug_log("upload_airport_db: file too large (%llu bytes, %llu blocks); max %u blocks\n",
                      static_cast<unsigned long long>(size), static_cast<unsigned long long>(blocks), kMaxDbBlocks);
            return false;
        }
        database.assign(static_cast<std::size_t>(size), 0);
        const std::size_t got = file.seek(0) ? file.read(database.data(), database.size()) : 0;
        if (got != database.size()) {
            debug_log("upload_airport_db: failed to read file (%zu / %u bytes)\n", got,
                      static_cast<unsigned>(database.size()));
            return false;
        }
    }
    const auto size = static_cast<std::uint32_t>(database.size());
    const std::uint32_t blocks = (size + 0xFFFF) >> 16;
    const std::uint32_t command = protocol::kAirportDb | (uid & protocol::kUidMask);

    debug_log("upload_airport_db (UID %u): %u bytes, erasing %u blocks from 0x%08X\n", uid, size, blocks, kDbAddress);

    debug_log("upload_airport_db: closing airport DB on UID %u\n", uid);
    bool sent = false;
    const bool closed = wait_legacy_ack(
        uid, static_cast<std::uint16_t>(command),
        [&] { return sent = send_command(command, protocol::kDlcAirportDb, &protocol::kCloseAirportDb, 1); }, kDbAckTimeoutMs);
    if (!closed) {
        debug_log(sent ? "upload_airport_db: close DB not acknowledged\n" : "upload_airport_db: close DB command failed\n");
        return false;
    }
    debug_log("upload_airport_db: close DB acknowledged\n");
    std::this_thread::sleep_for(kAfterCloseSettle);

    if (!erase_fw_update_blocks({FirmwareTarget{uid, kDbAddress}}, size, erase_timeout_ms, progress, user)) {
        debug_log("upload_airport_db: erase failed on UID %u\n", uid);
        return false;
    }
    if (!extflash_raw(uid, kDbAddress, database.data(), database.size(), write_timeout_ms, progress, user)) {
        debug_log("upload_airport_db: write failed on UID %u\n", uid);
        return false;
    }

    debug_log("upload_airport_db: opening airport DB on UID %u\n", uid);
    sent = false;
    const bool opened = wait_legacy_ack(
        uid, static_cast<std::uint16_t>(command),
        [&] { return sent = send_command(command, protocol::kDlcAirportDb, &protocol::kOpenAirportDb, 1); }, kDbAckTimeoutMs);
    if (!opened) {
        debug_log(sent ? "upload_airport_db: open DB not acknowledged\n" : "upload_airport_db: open DB command failed\n");
        return false;
    }
    debug_log("upload_airport_db: complete on UID %u\n", uid);
    return true;
}

}  // namespace vk61
