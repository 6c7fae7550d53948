// FlashWriter: write transfers into the units' external flash: set the write
// address, send the data in 64-byte chunks, match every unit's echoes.
//
// Threads: the operations block their calling thread (a transfer worker) for
// the whole transfer, each wait for the units' echoes lasting at most its
// time-out; handle_reply() runs on the receive thread.
// Locks: write_.mutex (the one wait slot, wait_slot.h) is held for the whole
// transfer and released only inside the waits and the 500 us pauses between
// chunks, so the receive thread can match echoes only then. The transmit lock
// is taken inside it, never the other way about; it is never held together
// with the erase-run lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "bus_frame.h"
#include "flash/flash_types.h"
#include "link.h"
#include "operation_result.h"
#include "wait_slot.h"

namespace vk61 {

class FlashWriter {
public:
    explicit FlashWriter(Link& link);
    FlashWriter(const FlashWriter&) = delete;
    FlashWriter& operator=(const FlashWriter&) = delete;

    // Writes size bytes into one unit's flash from address upward; timeout_ms
    // limits each single wait (the address echo, each chunk's echo).
    // confirmed (may be null) receives how far the unit's echoes reached.
    OperationResult extflash_raw(std::uint8_t uid, std::uint32_t address, const std::uint8_t* data, std::uint64_t size,
                                 unsigned timeout_ms, const ProgressCallback& progress, FlashConfirmed* confirmed);
    // Writes data at each unit's own address, the units side by side: with
    // more than one unit each chunk goes out once, to every unit on the bus
    // (UID 0). timeout_ms limits each wait; confirmed (may be null) receives
    // how far each unit's echoes reached.
    OperationResult write_flash_together(const std::vector<FirmwareTarget>& units, const std::uint8_t* data,
                                         std::uint64_t size, unsigned timeout_ms, const ProgressCallback& progress,
                                         FlashConfirmed* confirmed);
    // Writes the image at write address + image_offset on every target, then
    // the 64-byte header at the write address; timeout_ms limits each wait.
    OperationResult write_fw_image(const std::vector<FirmwareTarget>& targets, std::uint32_t image_offset,
                                   const std::uint8_t* image, std::uint64_t length, const std::uint8_t* header,
                                   unsigned timeout_ms, const ProgressCallback& progress);

    // Receive thread: matches a flash reply against the running transfer.
    void handle_reply(const BusFrame& frame);
    // Ends the armed transfer's wait with `why`.
    void abort_wait(FailureReason why) { write_.abort(why); }

private:
    // Lets the fuzz harness arm the wait slot directly.
    friend struct CommsManagerFuzzAccess;

    // What the units' next echo answers.
    enum class WritePhase : std::uint8_t { Idle, SetAddress, WriteChunk };
    struct WriteTransferState : WaitSlot {
        WritePhase phase = WritePhase::Idle;
        std::uint32_t chunk_length = 0;
        ProgressCallback progress;
        std::vector<FlashWriteTarget> targets;

        // Lock held: a new transfer, setting its first addresses.
        void begin(const ProgressCallback& callback) {
            arm();
            phase = WritePhase::SetAddress;
            chunk_length = 0;
            progress = callback;
            targets.clear();
        }
        // Lock held: a unit of the new transfer, whose firmware space starts
        // at base and whose data is written from start upward.
        void add_target(std::uint8_t uid, std::uint32_t base, std::uint32_t start) {
            FlashWriteTarget target;
            target.uid = uid;
            target.base_address = base;
            target.image_address = target.expected_echo = target.current_address = start;
            targets.push_back(target);
        }
        void end() {
            active = false;
            phase = WritePhase::Idle;
            progress = {};
        }
    };

    // Waits (lock held) up to timeout_ms for every target's echo of the chunk
    // in flight; see flash_writer.cpp for the repeated echo.
    FailureReason wait_chunk_echoes(std::unique_lock<std::mutex>& lock, unsigned timeout_ms);
    void settle_broadcast_chunk(std::unique_lock<std::mutex>& lock, unsigned timeout_ms);
    // Sends data in chunks to uid (0: every target at once), each after the
    // previous one was echoed by every target; `log` names the operation in
    // its lines. Lock held; released only in the waits and the pauses.
    OperationResult write_chunks(std::unique_lock<std::mutex>& lock, std::uint8_t uid, const std::uint8_t* data,
                                 std::uint64_t size, unsigned timeout_ms, const char* log, unsigned* packets);
    // Sets every target's address to its expected echo and waits for every
    // echo; lock held. `log` names the operation and `what` the step in the
    // lines ("fw_write", "header set-addr").
    OperationResult set_write_addresses(std::unique_lock<std::mutex>& lock, unsigned timeout_ms, OperationStep step,
                                        const char* log, const char* what);
    // The result of a failed step; names the unit that failed it or, after a
    // wait, the first that did not answer.
    OperationResult write_failure(OperationStep step, FailureReason why) const;
    // Lock held: records how far each target's echoes reached.
    void note_written(FlashConfirmed* confirmed) const;

    Link& link_;
    WriteTransferState write_;
};

}  // namespace vk61
