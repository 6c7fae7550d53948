// Erase runs: 64 KiB blocks erased on several units side by side, one block
// in flight per unit.
//
// A block goes through two answers: the sequenced acknowledgement of its erase
// command (claim_ack, offered by the dispatcher before the settings channel
// matches it) and then the flash reply that reports the block erased
// (handle_reply). The reply handler sends the unit's next block
// from the receive thread, so the worker only waits for the end of the run.
//
// Lock order: erase_.mutex, then the transmit lock inside each send. The erase
// mutex is never held together with the sequenced-command or write mutex.
#include <algorithm>
#include <cstddef>
#include <optional>

#include "flash/erase_run.h"

#include "debug_log.h"
#include "flash/flash_commands.h"
#include "flash/flash_reply.h"
#include "flash/timer_resolution.h"
#include "protocol.h"

namespace vk61 {

namespace {
// Block numbers are 16-bit and a run may not reach block 0xFFFF.
constexpr std::uint64_t kBlockLimit = 0xFFFF;

// Blocks holding the bytes address .. address + size - 1: from the block of
// the first byte through the block of the last. A unit may name a write
// address inside a block; counting ceil(size / 64 KiB) from its block would
// then leave the tail of the transfer on flash that was never erased. For an
// address on a block boundary this is ceil(size / 64 KiB) as before.
std::uint64_t blocks_covering(std::uint32_t address, std::uint32_t size) {
    if (size == 0) return 0;
    const std::uint64_t last = std::uint64_t{address} + size - 1;
    return protocol::block_of(last) - protocol::block_of(address) + 1;
}

template <class Jobs>
bool all_jobs_done(const Jobs& jobs) {
    return std::all_of(jobs.begin(), jobs.end(),
                       [](const FlashEraseJob& job) { return !job.in_flight && job.queue.empty(); });
}

template <class Jobs>
FlashEraseJob* find_job(Jobs& jobs, std::uint8_t uid) {
    const auto it = std::find_if(jobs.begin(), jobs.end(), [uid](const FlashEraseJob& job) { return job.uid == uid; });
    return it == jobs.end() ? nullptr : &*it;
}
}  // namespace

EraseRun::EraseRun(Link& link, SequenceCounter& sequence) : link_(link), sequence_(sequence) {}

OperationResult EraseRun::erase_fw_update_blocks(const std::vector<FirmwareTarget>& targets, std::uint32_t size,
                                                 unsigned timeout_ms, const ProgressCallback& progress,
                                                 FlashConfirmed* confirmed) {
    constexpr OperationStep kStep = OperationStep::Erase;
    if (!link_.is_connected()) return OperationResult::failure(kStep, FailureReason::NotConnected);
    if (targets.empty() || size == 0) return OperationResult::failure(kStep, FailureReason::InvalidRequest);

    std::vector<EraseBlocks> jobs;
    for (const FirmwareTarget& target : targets) {
        const std::uint64_t start = protocol::block_of(target.write_address);
        const std::uint64_t count = blocks_covering(target.write_address, size);
        if (count == 0 || start + count > kBlockLimit) {
            debug_log("fw_erase: no blocks to erase for UID %u\n", target.uid);
            return OperationResult::failure(kStep, FailureReason::InvalidRequest, target.uid);
        }
        EraseBlocks job{target.uid, {}};
        for (std::uint64_t block = start; block < start + count; ++block) {
            job.blocks.push_back(static_cast<std::uint16_t>(block));
        }
        jobs.push_back(std::move(job));
    }
    return run(jobs, timeout_ms, progress, confirmed);
}

OperationResult EraseRun::erase_flash_blocks(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms,
                                             const ProgressCallback& progress, FlashConfirmed* confirmed) {
    constexpr OperationStep kStep = OperationStep::Erase;
    if (!link_.is_connected()) return OperationResult::failure(kStep, FailureReason::NotConnected);
    if (jobs.empty()) return OperationResult::failure(kStep, FailureReason::InvalidRequest);
    for (const EraseBlocks& job : jobs) {
        const bool in_range =
            std::all_of(job.blocks.begin(), job.blocks.end(), [](std::uint16_t block) { return block < kBlockLimit; });
        if (job.blocks.empty() || !in_range) {
            debug_log("fw_erase: no blocks to erase for UID %u\n", job.uid);
            return OperationResult::failure(kStep, FailureReason::InvalidRequest, job.uid);
        }
    }
    return run(jobs, timeout_ms, progress, confirmed);
}

OperationResult EraseRun::run(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms,
                              const ProgressCallback& progress, FlashConfirmed* confirmed) {
    constexpr OperationStep kStep = OperationStep::Erase;
    // On Windows the raised resolution also covers the pauses the receive
    // thread takes in dispatch; on Linux dispatch lowers its own thread's slack.
    const TimerResolution timer_resolution;
    std::unique_lock lock(erase_.mutex);
    erase_.arm();
    erase_.paced = false;
    erase_.total_blocks = 0;
    erase_.erased_blocks = 0;
    erase_.progress = progress;
    erase_.jobs.clear();

    const auto end_run = [this, confirmed] {
        if (confirmed != nullptr) {
            for (const FlashEraseJob& job : erase_.jobs) {
                std::vector<std::uint16_t>& blocks = confirmed->erased[job.uid];
                blocks.insert(blocks.end(), job.confirmed.begin(), job.confirmed.end());
            }
        }
        erase_.active = false;
        erase_.progress = {};
    };

    for (const EraseBlocks& wanted : jobs) {
        FlashEraseJob job;
        job.uid = wanted.uid;
        job.queue.assign(wanted.blocks.begin(), wanted.blocks.end());
        erase_.jobs.push_back(std::move(job));
        erase_.total_blocks += static_cast<std::uint32_t>(wanted.blocks.size());
        debug_log("fw_erase: UID %u will erase %zu block(s) starting at block %u\n", wanted.uid, wanted.blocks.size(),
                  static_cast<unsigned>(wanted.blocks.front()));
    }

    erase_.progress(0, erase_.total_blocks, ProgressPhase::Erase);
    dispatch_blocks(lock);

    // One deadline for the whole run, not per block.
    const FailureReason why =
        wait_for(link_, erase_, lock, deadline_after(timeout_ms), [this] { return all_jobs_done(erase_.jobs); });
    if (why == FailureReason::None) {
        debug_log("fw_erase: all blocks erased successfully\n");
        erase_.progress(erase_.total_blocks, erase_.total_blocks, ProgressPhase::Erase);
        end_run();
        return OperationResult::success();
    }
    debug_log("fw_erase: failed (complete=%d failed=%d)\n", why != FailureReason::TimedOut ? 1 : 0,
              erase_.failed() ? 1 : 0);
    std::uint8_t uid = erase_.failed_uid;
    for (const FlashEraseJob& job : erase_.jobs) {
        if (uid == 0 && (job.in_flight || !job.queue.empty())) uid = job.uid;
    }
    end_run();
    return OperationResult::failure(kStep, why, uid);
}

// Runs on the worker (start of a run) or on the receive thread (after a block
// was erased). Sends one erase command to every job that is idle and has
// blocks left. Every command after the first of a run is preceded by a 500 us
// pause, taken with the erase mutex released; since another thread may have
// dispatched the same job meanwhile, a job is checked again after the pause.
void EraseRun::dispatch_blocks(std::unique_lock<std::mutex>& erase_lock) {
    std::optional<TimerResolution> timer_resolution;
    const auto stopped = [this] { return !erase_.active || erase_.failed() || link_.disconnecting(); };
    const auto ready = [this](std::size_t i) {
        return i < erase_.jobs.size() && !erase_.jobs[i].in_flight && !erase_.jobs[i].queue.empty();
    };

    for (std::size_t i = 0; i < erase_.jobs.size(); ++i) {
        if (stopped()) return;
        if (!ready(i)) continue;
        if (erase_.paced) {
            if (!timer_resolution) timer_resolution.emplace();
            erase_lock.unlock();
            pause_between_flash_commands();
            erase_lock.lock();
            if (stopped()) return;
            if (!ready(i)) continue;
        }

        FlashEraseJob& job = erase_.jobs[i];
        job.block = job.queue.front();
        job.queue.pop_front();
        job.expected_address = static_cast<std::uint32_t>(protocol::block_start(job.block));
        job.sequence = sequence_.next();
        job.in_flight = true;
        job.state = FlashEraseJob::AwaitingAck;
        debug_log("fw_erase: UID %u erasing block %u (addr 0x%08X) seq=%u\n", job.uid, job.block, job.expected_address,
                  job.sequence);
        if (!send_erase_block(link_, job.uid, job.sequence, job.block)) {
            debug_log("fw_erase: failed to send erase for UID %u block %u\n", job.uid, job.block);
            erase_.fail(FailureReason::SendFailed, job.uid);
            return;
        }
        erase_.paced = true;
    }
}

// Receive thread, for every sequenced acknowledgement (DLC code 7), before
// the sequenced-command slot sees it. Returns true when the acknowledgement
// belongs to the block in flight of an erase job; then nobody else matches it.
bool EraseRun::claim_ack(const BusFrame& frame) {
    if (frame.dlc() != protocol::kDlcSequencedAck) return false;
    const std::uint8_t* d = frame.data();
    const std::uint8_t uid = d[0];
    if (uid > protocol::kHighestUid) return false;
    const std::uint32_t command = get_u16(d + 1) & protocol::kIdentifierMask;
    const std::uint8_t status = d[3];
    const std::uint32_t sequence = get_u24(d + 4);

    std::lock_guard lock(erase_.mutex);
    if (!erase_.active) return false;
    FlashEraseJob* job = find_job(erase_.jobs, uid);
    if (job == nullptr || !job->in_flight || job->state != FlashEraseJob::AwaitingAck ||
        command != (protocol::kEraseBlock | uid) || sequence != job->sequence) {
        return false;
    }
    if (status == protocol::kAckStatusAck) {
        job->state = FlashEraseJob::AwaitingReply;
    } else {
        debug_log("fw_erase: NACK from UID %u for block %u seq=%u\n", uid, job->block, job->sequence);
        erase_.fail(FailureReason::Refused, uid);
    }
    return true;
}

// Receive thread. An erase reply counts only once its command was
// acknowledged; earlier ones, duplicates and replies of units without a job
// are ignored.
void EraseRun::handle_reply(const BusFrame& frame) {
    const std::optional<FlashReply> reply = parse_flash_reply(frame);
    if (!reply) return;

    std::unique_lock lock(erase_.mutex);
    if (!erase_.active) return;
    FlashEraseJob* job = find_job(erase_.jobs, reply->uid);
    if (job == nullptr || !job->in_flight || job->state != FlashEraseJob::AwaitingReply) return;

    const std::uint8_t uid = reply->uid;
    const auto fail = [this, uid](FailureReason why) { erase_.fail(why, uid); };
    if (reply->status != protocol::kFlashStatusDone) {
        debug_log("fw_erase: extflash NACK UID %u block %u\n", reply->uid, job->block);
        fail(FailureReason::Refused);
        return;
    }
    if (reply->operation != protocol::kFlashOpEraseBlock) {
        debug_log("fw_erase: UID %u unexpected op 0x%02X (expected block erase)\n", reply->uid, reply->operation);
        fail(FailureReason::UnexpectedOperation);
        return;
    }
    if (reply->address != job->expected_address) {
        debug_log("fw_erase: UID %u address mismatch block %u (expected 0x%08X got 0x%08X)\n", reply->uid, job->block,
                  job->expected_address, reply->address);
        fail(FailureReason::AddressMismatch);
        return;
    }

    debug_log("fw_erase: UID %u block %u erased (addr 0x%08X)\n", reply->uid, job->block, reply->address);
    job->in_flight = false;
    job->state = FlashEraseJob::Idle;
    job->confirmed.push_back(job->block);
    ++erase_.erased_blocks;
    if (erase_.total_blocks != 0) erase_.progress(erase_.erased_blocks, erase_.total_blocks, ProgressPhase::Erase);
    // `job` may dangle once dispatch released the mutex; only its queue is
    // looked at before that.
    if (!job->queue.empty()) dispatch_blocks(lock);
    if (erase_.failed() || all_jobs_done(erase_.jobs)) erase_.cv.notify_all();
}

}  // namespace vk61
