// EraseRun: 64 KiB blocks of external flash erased on several units side by
// side, one block in flight per unit.
//
// Threads: the operations block their calling thread (a transfer worker) for
// at most the run's time-out; claim_ack() and handle_reply() run on the
// receive thread, which also sends each unit's next block.
// Locks: erase_.mutex (the run's wait slot, wait_slot.h) is held while the
// run's state is read or changed and released around the 500 us pauses
// between commands; the transmit lock is taken inside it. It is never held
// together with the sequenced-command lock or the write-transfer lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "bus_frame.h"
#include "flash/flash_types.h"
#include "link.h"
#include "operation_result.h"
#include "sequence_counter.h"
#include "wait_slot.h"

namespace vk61 {

class EraseRun {
public:
    EraseRun(Link& link, SequenceCounter& sequence);
    EraseRun(const EraseRun&) = delete;
    EraseRun& operator=(const EraseRun&) = delete;

    // Erases, on each target, every block that holds a byte of write address
    // .. write address + size - 1, one block in flight per unit; timeout_ms
    // limits the whole run. confirmed (may be null) receives the blocks each
    // unit reported erased.
    OperationResult erase_fw_update_blocks(const std::vector<FirmwareTarget>& targets, std::uint32_t size,
                                           unsigned timeout_ms, const ProgressCallback& progress,
                                           FlashConfirmed* confirmed);
    // The same run over given blocks of each unit (each below block 0xFFFF).
    OperationResult erase_flash_blocks(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms,
                                       const ProgressCallback& progress, FlashConfirmed* confirmed);

    // Receive thread: claims a sequenced acknowledgement that belongs to the
    // run; true when it did (nobody else then matches the frame).
    bool claim_ack(const BusFrame& frame);
    // Receive thread: matches a flash reply against the running run.
    void handle_reply(const BusFrame& frame);
    // Ends the run's wait with `why`.
    void abort_wait(FailureReason why) { erase_.abort(why); }

private:
    // Lets the fuzz harness arm the wait slot directly.
    friend struct CommsManagerFuzzAccess;

    struct EraseRunState : WaitSlot {
        bool paced = false;
        std::uint32_t total_blocks = 0;
        std::uint32_t erased_blocks = 0;
        ProgressCallback progress;
        std::vector<FlashEraseJob> jobs;
    };

    // The run behind both public forms; the jobs were checked.
    OperationResult run(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms, const ProgressCallback& progress,
                        FlashConfirmed* confirmed);
    // Sends the next erase command of every idle job; erase lock held (it is
    // released around the 500 us pauses).
    void dispatch_blocks(std::unique_lock<std::mutex>& erase_lock);

    Link& link_;
    SequenceCounter& sequence_;
    EraseRunState erase_;
};

}  // namespace vk61
