// Single-unit raw upload (extflash_raw) and the reply handler of every write
// transfer (extflash_raw and write_fw_image share the write-transfer state).
//
// Lock order: write_.mutex, then the transmit lock inside each send. The
// write mutex is never held together with the erase-run mutex.
#include <algorithm>
#include <chrono>
#include <cstddef>

#include "comms_manager.h"
#include "debug_log.h"
#include "flash/flash_reply.h"
#include "flash/slot_wait.h"
#include "flash/timer_resolution.h"

namespace vk61 {

namespace {
constexpr unsigned kProgressLogEvery = 100;  // packets between progress lines
// How long a unit that repeated its previous chunk echo has to send the echo
// of the chunk in flight. A late copy of the previous echo and a unit that
// stopped advancing look alike on the bus; only what follows tells them
// apart. The copy leaves the unit just before the real echo, so this is far
// longer than a round trip, and still ends a stuck unit's transfer long
// before the chunk's own time-out would.
constexpr auto kRepeatedEchoGrace = std::chrono::milliseconds(250);

template <class State>
void end_write_transfer(State& state) {
    state.active = false;
    state.phase = 0;
    state.progress = {};
}

bool repeats_last_echo(const FlashWriteTarget& target, const FlashReply& reply) {
    return target.has_last_echo && reply.operation == target.last_echo_op &&
           reply.address == target.last_echo_address;
}

void count_echo(FlashWriteTarget& target, const FlashReply& reply) {
    target.current_address = reply.address;
    target.has_last_echo = true;
    target.last_echo_op = reply.operation;
    target.last_echo_address = reply.address;
    target.repeated_echo_at.reset();
}
}  // namespace

// A unit whose only answer to the chunk in flight was a repeat of its
// previous chunk echo, and whose own echo did not follow within
// kRepeatedEchoGrace, has stopped advancing: its repeat was the answer, and
// it names the wrong address. The transfer then ends with the mismatch line
// for that repeat, not after the chunk's time-out with the cause lost.
SlotWaitResult CommsManager::wait_chunk_echoes(std::unique_lock<std::mutex>& lock, unsigned timeout_ms) {
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
    // wait_slot looks at the link every few milliseconds, and so at the grace.
    SlotWaitResult wait = wait_slot(write_, lock, disconnecting_, deadline_after(timeout_ms),
                                    [this] { return is_connected(); },
                                    [&] { return all_acked() || stuck() != nullptr; });
    if (!wait.succeeded || all_acked()) return wait;
    const FlashWriteTarget& target = *stuck();
    debug_log("fw_write: UID %u write address mismatch (expected 0x%08X got 0x%08X)\n", target.uid,
              target.current_address + write_.chunk_length, target.last_echo_address);
    write_.failed = true;
    return {true, false};
}

bool CommsManager::extflash_raw(std::uint8_t uid, std::uint32_t address, const std::uint8_t* data,
                                std::uint64_t size, unsigned timeout_ms, ProgressFn progress, const void* user) {
    if (!is_connected() || data == nullptr || size == 0) return false;

    const TimerResolution timer_resolution;
    const auto link_up = [this] { return is_connected(); };
    std::unique_lock lock(write_.mutex);
    write_.active = true;
    write_.failed = false;
    write_.phase = 1;
    write_.chunk_length = 0;
    write_.progress = {progress, user};
    FlashWriteTarget target;
    target.uid = uid;
    target.base_address = target.image_address = target.expected_echo = target.current_address = address;
    write_.targets.assign(1, target);

    debug_log("extflash_raw: UID %u set address 0x%08X, uploading %zu bytes\n", uid, address,
              static_cast<std::size_t>(size));
    if (!send_set_address(uid, address)) {
        debug_log("extflash_raw: failed to send set-addr for UID %u\n", uid);
        end_write_transfer(write_);
        return false;
    }
    SlotWaitResult wait = wait_slot(write_, lock, disconnecting_, deadline_after(timeout_ms), link_up,
                                    [this] { return write_.targets.front().address_set; });
    if (!wait.succeeded) {
        debug_log("extflash_raw: set-addr failed (complete=%d failed=%d)\n", wait.complete ? 1 : 0,
                  write_.failed ? 1 : 0);
        end_write_transfer(write_);
        return false;
    }

    write_.progress(0, size, kPhaseWrite);
    write_.phase = 2;
    std::uint64_t offset = 0;
    unsigned packets = 0;
    for (;;) {
        const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(kFlashChunkSize, size - offset));
        write_.chunk_length = length;
        begin_chunk_step(write_.targets);
        if (!send_write_chunk(uid, data + offset, length)) {
            debug_log("extflash_raw: failed to send write chunk at offset %zu\n", static_cast<std::size_t>(offset));
            end_write_transfer(write_);
            return false;
        }
        wait = wait_chunk_echoes(lock, timeout_ms);
        if (!wait.succeeded) {
            debug_log("extflash_raw: chunk failed at offset %zu (complete=%d failed=%d)\n",
                      static_cast<std::size_t>(offset), wait.complete ? 1 : 0, write_.failed ? 1 : 0);
            end_write_transfer(write_);
            return false;
        }

        offset += length;
        ++packets;
        write_.progress(offset, size, kPhaseWrite);
        if (packets % kProgressLogEvery == 0 || offset == size) {
            debug_log("extflash_raw: progress %zu/%zu bytes\n", static_cast<std::size_t>(offset),
                      static_cast<std::size_t>(size));
        }
        if (offset >= size) break;

        // The receive thread can deliver replies only while the mutex is free:
        // inside the waits and this pause.
        lock.unlock();
        pause_between_flash_commands();
        lock.lock();
    }

    debug_log("extflash_raw: complete (%zu bytes, %u packets) on UID %u\n", static_cast<std::size_t>(size), packets,
              uid);
    end_write_transfer(write_);
    return true;
}

// Receive thread. Matches a flash reply against the running write transfer;
// ignores replies of units outside it, replies while no transfer runs and
// replies for a flag that is already set.
void CommsManager::handle_flash_write_reply(const BusFrame& frame) {
    const std::optional<FlashReply> reply = parse_flash_reply(frame);
    if (!reply) return;

    std::lock_guard lock(write_.mutex);
    if (!write_.active) return;
    const auto it = std::find_if(write_.targets.begin(), write_.targets.end(),
                                 [&](const FlashWriteTarget& t) { return t.uid == reply->uid; });
    if (it == write_.targets.end()) return;
    FlashWriteTarget& target = *it;

    const auto fail = [this] {
        write_.failed = true;
        write_.cv.notify_one();
    };
    // A refusal ends the transfer whatever it repeats: the unit says its
    // flash did not take what it was sent.
    if (reply->status != protocol::kFlashStatusDone) {
        debug_log("fw_write: extflash NACK UID %u op 0x%02X\n", reply->uid, reply->operation);
        fail();
        return;
    }
    // An erase reply (operation 0xBE naming a block address) is the erase
    // run's; a late copy of one must not end the write that follows the run.
    if (reply->operation == protocol::kFlashOpEraseBlock && reply->address % kFlashBlockSize == 0) return;

    const bool step_answered = write_.phase == 1 ? target.address_set : target.chunk_acked;
    if (step_answered) return;

    // Exactly the echo this unit gave for the step before: a late second
    // copy of it, which says nothing about the step in flight. The one
    // exception is a repeated chunk echo while a chunk is in flight: a unit
    // that stopped advancing answers just so, and wait_chunk_echoes ends the
    // transfer unless this chunk's own echo follows.
    if (repeats_last_echo(target, *reply)) {
        if (write_.phase == 2 && reply->operation == protocol::kFlashOpWriteChunk && !target.repeated_echo_at) {
            target.repeated_echo_at = std::chrono::steady_clock::now();
        }
        return;
    }

    if (write_.phase == 1) {
        // A set-address echo may carry operation 0x00 instead of 0xA1.
        if (reply->operation != protocol::kFlashOpSetAddress && reply->operation != 0x00) {
            debug_log("fw_write: UID %u unexpected set-addr op 0x%02X\n", reply->uid, reply->operation);
            fail();
            return;
        }
        if (reply->address != target.expected_echo) {
            debug_log("fw_write: UID %u set-addr mismatch (expected 0x%08X got 0x%08X)\n", reply->uid,
                      target.expected_echo, reply->address);
            fail();
            return;
        }
        target.address_set = true;
        count_echo(target, *reply);
        debug_log("fw_write: UID %u address set to 0x%08X\n", reply->uid, reply->address);
        const bool all_set = std::all_of(write_.targets.begin(), write_.targets.end(),
                                         [](const FlashWriteTarget& t) { return t.address_set; });
        if (write_.failed || all_set) write_.cv.notify_one();
        return;
    }

    if (write_.phase == 2) {
        if (reply->operation != protocol::kFlashOpWriteChunk) {
            debug_log("fw_write: UID %u unexpected write op 0x%02X\n", reply->uid, reply->operation);
            fail();
            return;
        }
        const std::uint32_t expected = target.current_address + write_.chunk_length;
        if (reply->address != expected) {
            debug_log("fw_write: UID %u write address mismatch (expected 0x%08X got 0x%08X)\n", reply->uid,
                      expected, reply->address);
            fail();
            return;
        }
        target.chunk_acked = true;
        count_echo(target, *reply);
        const bool all_acked = std::all_of(write_.targets.begin(), write_.targets.end(),
                                           [](const FlashWriteTarget& t) { return t.chunk_acked; });
        if (write_.failed || all_acked) write_.cv.notify_one();
    }
}

}  // namespace vk61
