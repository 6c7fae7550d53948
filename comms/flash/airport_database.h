// AirportDatabase: replacing the airport database of one unit (close it,
// erase the blocks the file needs from address 0, write the file there, open
// it again), and the close and open commands on their own.
//
// Threads: every operation blocks its calling thread (the airport worker) for
// the whole step: up to 5000 ms for each close or open acknowledgement, the
// erase run's and the write's own time-outs in between. It holds no lock of
// its own: each step takes the lock of the part that runs it (the settings
// channel's plain-acknowledgement slot, the erase run, the flash writer), one
// after the other, never two together.
#pragma once

#include <cstdint>

#include "flash/erase_run.h"
#include "flash/flash_types.h"
#include "flash/flash_writer.h"
#include "link.h"
#include "operation_result.h"
#include "settings_channel.h"

namespace vk61 {

class AirportDatabase {
public:
    AirportDatabase(Link& link, SettingsChannel& settings, EraseRun& erase, FlashWriter& writer);
    AirportDatabase(const AirportDatabase&) = delete;
    AirportDatabase& operator=(const AirportDatabase&) = delete;

    // Replaces the database of one unit with the file at path, read once
    // before anything is sent.
    OperationResult upload_airport_db(std::uint8_t uid, const char* path, unsigned erase_timeout_ms,
                                      unsigned write_timeout_ms, const ProgressCallback& progress);
    // The same with the database's bytes, which must outlive the call.
    // confirmed (may be null) receives what the unit confirmed of the erase
    // and the write.
    OperationResult upload_airport_db(std::uint8_t uid, const std::uint8_t* data, std::uint64_t size,
                                      unsigned erase_timeout_ms, unsigned write_timeout_ms,
                                      const ProgressCallback& progress, FlashConfirmed* confirmed);
    // Closes (open false) or opens one unit's database and waits up to
    // 5000 ms for its acknowledgement; sent (may be null) tells whether the
    // command went out.
    OperationResult airport_db_command(std::uint8_t uid, bool open, bool* sent);

private:
    Link& link_;
    SettingsChannel& settings_;
    EraseRun& erase_;
    FlashWriter& writer_;
};

}  // namespace vk61
