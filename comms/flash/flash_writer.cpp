// Write transfers: the single-unit raw upload (extflash_raw), the write to
// several units side by side (write_flash_together), the firmware image write
// (image body first, header last) and the reply handler they all share.
//
// Lock order: write_.mutex, then the transmit lock inside each send. The
// write mutex is never held together with the erase-run mutex.
#include <algorithm>
#include <chrono>
#include <cstddef>

#include "flash/flash_writer.h"

#include "debug_log.h"
#include "flash/flash_commands.h"
#include "flash/flash_reply.h"
#include "flash/timer_resolution.h"

namespace vk61 {

namespace {
constexpr std::uint32_t kHeaderSize = 64;
constexpr unsigned kProgressLogEvery = 100;  // packets between progress lines
// How long a unit that repeated its previous chunk echo has to send the echo
// of the chunk in flight. A late copy of the previous echo and a unit that
// stopped advancing look alike on the bus; only what follows tells them
// apart. The copy leaves the unit just before the real echo, so this is far
// longer than a round trip, and still ends a stuck unit's transfer long
// before the chunk's own time-out would.
constexpr auto kRepeatedEchoGrace = std::chrono::milliseconds(250);

bool repeats_last_echo(const FlashWriteTarget& target, const FlashReply& reply) {
    return target.has_last_echo && reply.operation == target.last_echo_op && reply.address == target.last_echo_address;
}

void count_echo(FlashWriteTarget& target, const FlashReply& reply) {
    target.current_address = reply.address;
    target.has_last_echo = true;
    target.last_echo_op = reply.operation;
    target.last_echo_address = reply.address;
    target.repeated_echo_at.reset();
}

// The first target that has not answered the step in flight: the unit named
// when a wait for every target's echo ends without them.
std::uint8_t first_unanswered(const std::vector<FlashWriteTarget>& targets, bool chunk_step) {
    for (const FlashWriteTarget& t : targets) {
        if (!(chunk_step ? t.chunk_acked : t.address_set)) return t.uid;
    }
    return 0;
}
}  // namespace

FlashWriter::FlashWriter(Link& link) : link_(link) {}

OperationResult FlashWriter::write_failure(OperationStep step, FailureReason why) const {
    const std::uint8_t uid = write_.failed_uid != 0
                                 ? write_.failed_uid
                                 : first_unanswered(write_.targets, write_.phase == WritePhase::WriteChunk);
    return OperationResult::failure(step, why, uid);
}

// A unit whose only answer to the chunk in flight was a repeat of its
// previous chunk echo, and whose own echo did not follow within
// kRepeatedEchoGrace, has stopped advancing: its repeat was the answer, and
// it names the wrong address. The transfer then ends with the mismatch line
// for that repeat, not after the chunk's time-out with the cause lost.
FailureReason FlashWriter::wait_chunk_echoes(std::unique_lock<std::mutex>& lock, unsigned timeout_ms) {
    const auto all_acked = [this] {
        return std::all_of(write_.targets.begin(), write_.targets.end(),
                           [](const FlashWriteTarget& t) { return t.chunk_acked; });
    };
    const auto stuck = [this]() -> const FlashWriteTarget* {
        const auto now = std::chrono::steady_clock::now();
        for (const FlashWriteTarget& t : write_.targets) {
            if (!t.chunk_acked && t.repeated_echo_at && now - *t.repeated_echo_at >= kRepeatedEchoGrace) return &t;
        }
        return nullptr;
    };
    // wait_for looks at the link every few milliseconds, and so at the grace.
    const FailureReason why =
        wait_for(link_, write_, lock, deadline_after(timeout_ms), [&] { return all_acked() || stuck() != nullptr; });
    if (why != FailureReason::None || all_acked()) return why;
    const FlashWriteTarget& target = *stuck();
    debug_log("fw_write: UID %u write address mismatch (expected 0x%08X got 0x%08X)\n", target.uid,
              target.current_address + write_.chunk_length, target.last_echo_address);
    write_.fail(FailureReason::AddressMismatch, target.uid);
    return write_.failure;
}

// A broadcast chunk that one unit refused or echoed wrongly is still in
// flight on the others. Their echoes are awaited (up to the chunk's time-out)
// before the transfer ends: a caller that goes on with the others (the airport
// upload to every unit) would otherwise meet a late echo of this chunk in its
// next step and read it as that step's wrong answer.
void FlashWriter::settle_broadcast_chunk(std::unique_lock<std::mutex>& lock, unsigned timeout_ms) {
    const std::uint8_t failed = write_.failed_uid;
    wait_for(
        link_, write_, lock, deadline_after(timeout_ms),
        [&] {
            return std::all_of(write_.targets.begin(), write_.targets.end(),
                               [&](const FlashWriteTarget& t) { return t.chunk_acked || t.uid == failed; });
        },
        WaitEnd::DoneOnly);
}

// The one chunk loop of every write transfer: each chunk goes out once (to
// uid, or to every target with uid 0), and the next one only after every
// target echoed it.
OperationResult FlashWriter::write_chunks(std::unique_lock<std::mutex>& lock, std::uint8_t uid,
                                          const std::uint8_t* data, std::uint64_t size, unsigned timeout_ms,
                                          const char* log, unsigned* packets_out) {
    write_.progress(0, size, ProgressPhase::Write);
    write_.phase = WritePhase::WriteChunk;
    std::uint64_t offset = 0;
    unsigned packets = 0;
    while (offset < size) {
        const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(kFlashChunkSize, size - offset));
        write_.chunk_length = length;
        begin_chunk_step(write_.targets);
        if (!send_write_chunk(link_, uid, data + offset, length)) {
            debug_log("%s: failed to send write chunk at offset %zu\n", log, static_cast<std::size_t>(offset));
            return write_failure(OperationStep::WriteChunk, FailureReason::SendFailed);
        }
        const FailureReason why = wait_chunk_echoes(lock, timeout_ms);
        if (why != FailureReason::None) {
            debug_log("%s: chunk failed at offset %zu (complete=%d failed=%d)\n", log, static_cast<std::size_t>(offset),
                      why != FailureReason::TimedOut ? 1 : 0, write_.failed() ? 1 : 0);
            if (uid == 0 && write_.failed_uid != 0) settle_broadcast_chunk(lock, timeout_ms);
            return write_failure(OperationStep::WriteChunk, why);
        }
        offset += length;
        ++packets;
        write_.progress(offset, size, ProgressPhase::Write);
        if (packets % kProgressLogEvery == 0 || offset == size) {
            if (uid == 0) {
                debug_log("%s: progress %zu/%zu bytes (%.1f%%)\n", log, static_cast<std::size_t>(offset),
                          static_cast<std::size_t>(size),
                          static_cast<double>(offset) * 100.0 / static_cast<double>(size));
            } else {
                debug_log("%s: progress %zu/%zu bytes\n", log, static_cast<std::size_t>(offset),
                          static_cast<std::size_t>(size));
            }
        }
        if (offset < size) {
            // The receive thread can deliver replies only while the mutex is
            // free: inside the waits and this pause.
            lock.unlock();
            pause_between_flash_commands();
            lock.lock();
        }
    }
    if (packets_out != nullptr) *packets_out = packets;
    return OperationResult::success();
}

void FlashWriter::note_written(FlashConfirmed* confirmed) const {
    if (confirmed == nullptr) return;
    for (const FlashWriteTarget& t : write_.targets) {
        if (t.address_set) confirmed->written_to[t.uid] = t.current_address;
    }
}

OperationResult FlashWriter::extflash_raw(std::uint8_t uid, std::uint32_t address, const std::uint8_t* data,
                                          std::uint64_t size, unsigned timeout_ms, const ProgressCallback& progress,
                                          FlashConfirmed* confirmed) {
    if (!link_.is_connected())
        return OperationResult::failure(OperationStep::SetAddress, FailureReason::NotConnected, uid);
    if (data == nullptr || size == 0) {
        return OperationResult::failure(OperationStep::SetAddress, FailureReason::InvalidRequest, uid);
    }

    const TimerResolution timer_resolution;
    std::unique_lock lock(write_.mutex);
    write_.begin(progress);
    write_.add_target(uid, address, address);

    const auto finish = [this, confirmed](OperationResult result) {
        note_written(confirmed);
        write_.end();
        return result;
    };
    debug_log("extflash_raw: UID %u set address 0x%08X, uploading %zu bytes\n", uid, address,
              static_cast<std::size_t>(size));
    OperationResult result =
        set_write_addresses(lock, timeout_ms, OperationStep::SetAddress, "extflash_raw", "set-addr");
    if (!result) return finish(result);

    unsigned packets = 0;
    result = write_chunks(lock, uid, data, size, timeout_ms, "extflash_raw", &packets);
    if (!result) return finish(result);
    debug_log("extflash_raw: complete (%zu bytes, %u packets) on UID %u\n", static_cast<std::size_t>(size), packets,
              uid);
    return finish(OperationResult::success());
}

OperationResult FlashWriter::write_flash_together(const std::vector<FirmwareTarget>& units, const std::uint8_t* data,
                                                  std::uint64_t size, unsigned timeout_ms,
                                                  const ProgressCallback& progress, FlashConfirmed* confirmed) {
    if (!link_.is_connected()) return OperationResult::failure(OperationStep::SetAddress, FailureReason::NotConnected);
    if (units.empty() || data == nullptr || size == 0) {
        return OperationResult::failure(OperationStep::SetAddress, FailureReason::InvalidRequest);
    }

    const TimerResolution timer_resolution;
    std::unique_lock lock(write_.mutex);
    write_.begin(progress);
    for (const FirmwareTarget& unit : units) write_.add_target(unit.uid, unit.write_address, unit.write_address);
    const auto finish = [this, confirmed](OperationResult result) {
        note_written(confirmed);
        write_.end();
        return result;
    };
    debug_log("flash_write: %zu unit(s), uploading %zu bytes\n", units.size(), static_cast<std::size_t>(size));
    OperationResult result = set_write_addresses(lock, timeout_ms, OperationStep::SetAddress, "fw_write", "set-addr");
    if (!result) return finish(result);
    // One unit is addressed by its UID, so nothing reaches any other unit.
    const std::uint8_t send_uid = units.size() == 1 ? units.front().uid : 0;
    unsigned packets = 0;
    result = write_chunks(lock, send_uid, data, size, timeout_ms, "flash_write", &packets);
    if (!result) return finish(result);
    debug_log("flash_write: complete (%zu bytes, %u packets)\n", static_cast<std::size_t>(size), packets);
    return finish(OperationResult::success());
}

// Sends a set-address to every target (its expected_echo) and waits until
// every target echoed it. `what` names the step in the lines ("set-addr",
// "header set-addr").
OperationResult FlashWriter::set_write_addresses(std::unique_lock<std::mutex>& lock, unsigned timeout_ms,
                                                 OperationStep step, const char* log, const char* what) {
    write_.phase = WritePhase::SetAddress;
    for (const FlashWriteTarget& t : write_.targets) {
        if (!send_set_address(link_, t.uid, t.expected_echo)) {
            debug_log("%s: failed to send %s for UID %u\n", log, what, t.uid);
            return OperationResult::failure(step, FailureReason::SendFailed, t.uid);
        }
    }
    const FailureReason why = wait_for(link_, write_, lock, deadline_after(timeout_ms), [this] {
        return std::all_of(write_.targets.begin(), write_.targets.end(),
                           [](const FlashWriteTarget& t) { return t.address_set; });
    });
    if (why == FailureReason::None) return OperationResult::success();
    debug_log("%s: %s failed (complete=%d failed=%d)\n", log, what, why != FailureReason::TimedOut ? 1 : 0,
              write_.failed() ? 1 : 0);
    return write_failure(step, why);
}

// Blocks the calling worker for the whole transfer; each wait for the units'
// echoes (address, each chunk, header) lasts at most timeout_ms.
OperationResult FlashWriter::write_fw_image(const std::vector<FirmwareTarget>& targets, std::uint32_t image_offset,
                                            const std::uint8_t* image, std::uint64_t length, const std::uint8_t* header,
                                            unsigned timeout_ms, const ProgressCallback& progress) {
    if (!link_.is_connected()) return OperationResult::failure(OperationStep::SetAddress, FailureReason::NotConnected);
    if (targets.empty() || image == nullptr || length == 0 || header == nullptr) {
        return OperationResult::failure(OperationStep::SetAddress, FailureReason::InvalidRequest);
    }

    const TimerResolution timer_resolution;
    std::unique_lock lock(write_.mutex);
    write_.begin(progress);
    for (const FirmwareTarget& t : targets) {
        write_.add_target(t.uid, t.write_address, t.write_address + image_offset);
        debug_log("fw_write: UID %u image start address 0x%08X (base 0x%08X + offset 0x%08X)\n", t.uid,
                  write_.targets.back().image_address, t.write_address, image_offset);
    }
    const auto finish = [this](OperationResult result) {
        write_.end();
        return result;
    };

    // Image address on every unit, then the image body.
    OperationResult result = set_write_addresses(lock, timeout_ms, OperationStep::SetAddress, "fw_write", "set-addr");
    if (!result) return finish(result);
    debug_log("fw_write: all devices set address, uploading %zu bytes\n", static_cast<std::size_t>(length));
    unsigned packets = 0;
    result = write_chunks(lock, 0, image, length, timeout_ms, "fw_write", &packets);
    if (!result) return finish(result);
    debug_log("fw_write: image transfer complete (%zu bytes, %u packets)\n", static_cast<std::size_t>(length), packets);

    // Header last: a unit sees a complete image only once every unit has
    // confirmed every image chunk.
    debug_log("fw_write: resetting address to header location and writing firmware header\n");
    for (FlashWriteTarget& t : write_.targets) {
        t.expected_echo = t.current_address = t.base_address;
        t.address_set = false;
        t.chunk_acked = false;
    }
    result = set_write_addresses(lock, timeout_ms, OperationStep::SetHeaderAddress, "fw_write", "header set-addr");
    if (!result) return finish(result);

    write_.phase = WritePhase::WriteChunk;
    write_.chunk_length = kHeaderSize;
    begin_chunk_step(write_.targets);
    if (!send_write_chunk(link_, 0, header, kHeaderSize)) {
        debug_log("fw_write: failed to send firmware header\n");
        return finish(write_failure(OperationStep::WriteHeader, FailureReason::SendFailed));
    }
    const FailureReason why = wait_chunk_echoes(lock, timeout_ms);
    if (why != FailureReason::None) {
        debug_log("fw_write: header write failed (complete=%d failed=%d)\n", why != FailureReason::TimedOut ? 1 : 0,
                  write_.failed() ? 1 : 0);
        return finish(write_failure(OperationStep::WriteHeader, why));
    }

    debug_log("fw_write: firmware header written (%u bytes)\n", kHeaderSize);
    write_.progress(length, length, ProgressPhase::Write);
    return finish(OperationResult::success());
}

// Receive thread. Matches a flash reply against the running write transfer;
// ignores replies of units outside it, replies while no transfer runs and
// replies for a flag that is already set.
void FlashWriter::handle_reply(const BusFrame& frame) {
    const std::optional<FlashReply> reply = parse_flash_reply(frame);
    if (!reply) return;

    std::lock_guard lock(write_.mutex);
    if (!write_.active) return;
    const auto it = std::find_if(write_.targets.begin(), write_.targets.end(),
                                 [&](const FlashWriteTarget& t) { return t.uid == reply->uid; });
    if (it == write_.targets.end()) return;
    FlashWriteTarget& target = *it;

    const auto fail = [this, &reply](FailureReason why) { write_.fail(why, reply->uid); };
    // A refusal ends the transfer whatever it repeats: the unit says its
    // flash did not take what it was sent.
    if (reply->status != protocol::kFlashStatusDone) {
        debug_log("fw_write: extflash NACK UID %u op 0x%02X\n", reply->uid, reply->operation);
        fail(FailureReason::Refused);
        return;
    }
    // An erase reply (operation 0xBE naming a block address) is the erase
    // run's; a late copy of one must not end the write that follows the run.
    if (reply->operation == protocol::kFlashOpEraseBlock && reply->address % kFlashBlockSize == 0) return;

    const bool step_answered = write_.phase == WritePhase::SetAddress ? target.address_set : target.chunk_acked;
    if (step_answered) return;

    // Exactly the echo this unit gave for the step before: a late second
    // copy of it, which says nothing about the step in flight. The one
    // exception is a repeated chunk echo while a chunk is in flight: a unit
    // that stopped advancing answers just so, and wait_chunk_echoes ends the
    // transfer unless this chunk's own echo follows.
    if (repeats_last_echo(target, *reply)) {
        if (write_.phase == WritePhase::WriteChunk && reply->operation == protocol::kFlashOpWriteChunk &&
            !target.repeated_echo_at) {
            target.repeated_echo_at = std::chrono::steady_clock::now();
        }
        return;
    }

    if (write_.phase == WritePhase::SetAddress) {
        // A set-address echo may carry operation 0x00 instead of 0xA1.
        if (reply->operation != protocol::kFlashOpSetAddress && reply->operation != 0x00) {
            debug_log("fw_write: UID %u unexpected set-addr op 0x%02X\n", reply->uid, reply->operation);
            fail(FailureReason::UnexpectedOperation);
            return;
        }
        if (reply->address != target.expected_echo) {
            debug_log("fw_write: UID %u set-addr mismatch (expected 0x%08X got 0x%08X)\n", reply->uid,
                      target.expected_echo, reply->address);
            fail(FailureReason::AddressMismatch);
            return;
        }
        target.address_set = true;
        count_echo(target, *reply);
        debug_log("fw_write: UID %u address set to 0x%08X\n", reply->uid, reply->address);
        const bool all_set = std::all_of(write_.targets.begin(), write_.targets.end(),
                                         [](const FlashWriteTarget& t) { return t.address_set; });
        if (all_set) write_.cv.notify_all();
        return;
    }

    if (write_.phase == WritePhase::WriteChunk) {
        if (reply->operation != protocol::kFlashOpWriteChunk) {
            debug_log("fw_write: UID %u unexpected write op 0x%02X\n", reply->uid, reply->operation);
            fail(FailureReason::UnexpectedOperation);
            return;
        }
        const std::uint32_t expected = target.current_address + write_.chunk_length;
        if (reply->address != expected) {
            debug_log("fw_write: UID %u write address mismatch (expected 0x%08X got 0x%08X)\n", reply->uid, expected,
                      reply->address);
            fail(FailureReason::AddressMismatch);
            return;
        }
        target.chunk_acked = true;
        count_echo(target, *reply);
        const bool all_acked = std::all_of(write_.targets.begin(), write_.targets.end(),
                                           [](const FlashWriteTarget& t) { return t.chunk_acked; });
        if (all_acked || write_.failed()) write_.cv.notify_all();
    }
}

}  // namespace vk61
