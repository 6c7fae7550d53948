// Firmware update on the bus: the prepare command that collects each unit's
// write address, and the image write (image body first, header last) on all
// units at once.
//
// Lock order: the registry lock only while the target mask is computed, and
// released before prepare_.mutex is taken; prepare_.mutex or write_.mutex,
// then the transmit lock inside each send.
#include <algorithm>
#include <cstddef>

#include "comms_manager.h"
#include "protocol.h"
#include "debug_log.h"
#include "flash/slot_wait.h"
#include "flash/timer_resolution.h"

namespace vk61 {

namespace {
constexpr std::uint32_t kHeaderSize = 64;
constexpr unsigned kProgressLogEvery = 100;  // packets between progress lines

template <class State>
void end_write_transfer(State& state) {
    state.active = false;
    state.phase = 0;
    state.progress = {};
}
}  // namespace

bool CommsManager::prepare_fw_update(std::vector<FirmwareTarget>* targets_out, unsigned timeout_ms) {
    if (targets_out == nullptr) return false;
    targets_out->clear();
    if (!is_connected()) return false;

    const std::uint32_t mask = target_mask();
    std::unique_lock lock(prepare_.mutex);
    prepare_.active = true;
    prepare_.failed = false;
    prepare_.pending_mask = mask;
    prepare_.replies.clear();

    if (!send_command(protocol::kPrepare, protocol::kDlcPrepareRequest, protocol::kPrepareRequest,
                      sizeof protocol::kPrepareRequest)) {
        prepare_.active = false;
        return false;
    }
    const SlotWaitResult wait = wait_slot(prepare_, lock, disconnecting_, deadline_after(timeout_ms),
                                          [this] { return is_connected(); },
                                          [this] { return prepare_.pending_mask == 0; });
    if (!wait.succeeded) {
        debug_log("prepare_fw_update: failed pending_mask=0x%02X failed=%d\n", prepare_.pending_mask,
                  prepare_.failed ? 1 : 0);
        prepare_.active = false;
        return false;
    }
    prepare_.active = false;
    std::vector<FirmwareTarget> replies = prepare_.replies;
    std::sort(replies.begin(), replies.end(),
              [](const FirmwareTarget& a, const FirmwareTarget& b) { return a.uid < b.uid; });
    *targets_out = std::move(replies);
    return true;
}

// Receive thread; prepare replies (DLC code 5). Only units still
// pending count, so duplicates and units that were not asked are ignored.
void CommsManager::handle_prepare_reply(const BusFrame& frame) {
    const std::uint8_t* d = frame.data();
    const std::uint8_t uid = d[0];
    if (uid > protocol::kHighestUid) return;
    const std::uint32_t address = get_u32(d + 1);

    std::lock_guard lock(prepare_.mutex);
    if (!prepare_.active || (prepare_.pending_mask & (1u << uid)) == 0) return;
    if (address == protocol::kPrepareRefused) {
        debug_log("prepare_fw_update: UID %u reported failure (address -1)\n", uid);
        prepare_.failed = true;
        prepare_.cv.notify_one();
        return;
    }
    prepare_.replies.push_back(FirmwareTarget{uid, address});
    prepare_.pending_mask &= ~(1u << uid);
    debug_log("prepare_fw_update: UID %u write address 0x%08X\n", uid, address);
    if (prepare_.pending_mask == 0) prepare_.cv.notify_one();
}

// Blocks the calling worker for the whole transfer; each wait for the units'
// echoes (address, each chunk, header) lasts at most timeout_ms.
bool CommsManager::write_fw_image(const std::vector<FirmwareTarget>& targets, std::uint32_t image_offset,
                                  const std::uint8_t* image, std::uint64_t length, const std::uint8_t* header,
                                  unsigned timeout_ms, ProgressFn progress, const void* user) {
    if (!is_connected() || targets.empty() || image == nullptr || length == 0 || header == nullptr) return false;

    const TimerResolution timer_resolution;
    const auto link_up = [this] { return is_connected(); };
    const auto all_addresses_set = [this] {
        return std::all_of(write_.targets.begin(), write_.targets.end(),
                           [](const FlashWriteTarget& t) { return t.address_set; });
    };

    std::unique_lock lock(write_.mutex);
    write_.active = true;
    write_.failed = false;
    write_.phase = 1;
    write_.chunk_length = 0;
    write_.progress = {progress, user};
    write_.targets.clear();
    for (const FirmwareTarget& t : targets) {
        FlashWriteTarget target;
        target.uid = t.uid;
        target.base_address = t.write_address;
        target.image_address = t.write_address + image_offset;
        target.expected_echo = target.current_address = target.image_address;
        write_.targets.push_back(target);
        debug_log("fw_write: UID %u image start address 0x%08X (base 0x%08X + offset 0x%08X)\n", t.uid,
                  target.image_address, t.write_address, image_offset);
    }

    // Image address on every unit.
    for (const FlashWriteTarget& t : write_.targets) {
        if (!send_set_address(t.uid, t.image_address)) {
            debug_log("fw_write: failed to send set-addr for UID %u\n", t.uid);
            end_write_transfer(write_);
            return false;
        }
    }
    SlotWaitResult wait =
        wait_slot(write_, lock, disconnecting_, deadline_after(timeout_ms), link_up, all_addresses_set);
    if (!wait.succeeded) {
        debug_log("fw_write: set-addr failed (complete=%d failed=%d)\n", wait.complete ? 1 : 0,
                  write_.failed ? 1 : 0);
        end_write_transfer(write_);
        return false;
    }

    // Image body: each chunk broadcast once, the next one only after every
    // unit echoed it.
    debug_log("fw_write: all devices set address, uploading %zu bytes\n", static_cast<std::size_t>(length));
    write_.progress(0, length, kPhaseWrite);
    write_.phase = 2;
    std::uint64_t offset = 0;
    unsigned packets = 0;
    while (offset < length) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(kFlashChunkSize, length - offset));
        write_.chunk_length = chunk;
        begin_chunk_step(write_.targets);
        if (!send_write_chunk(0, image + offset, chunk)) {
            debug_log("fw_write: failed to send write chunk at offset %zu\n", static_cast<std::size_t>(offset));
            end_write_transfer(write_);
            return false;
        }
        wait = wait_chunk_echoes(lock, timeout_ms);
        if (!wait.succeeded) {
            debug_log("fw_write: chunk failed at offset %zu (complete=%d failed=%d)\n",
                      static_cast<std::size_t>(offset), wait.complete ? 1 : 0, write_.failed ? 1 : 0);
            end_write_transfer(write_);
            return false;
        }
        offset += chunk;
        ++packets;
        write_.progress(offset, length, kPhaseWrite);
        if (packets % kProgressLogEvery == 0 || offset == length) {
            debug_log("fw_write: progress %zu/%zu bytes (%.1f%%)\n", static_cast<std::size_t>(offset),
                      static_cast<std::size_t>(length), static_cast<double>(offset) * 100.0 / static_cast<double>(length));
        }
        if (offset < length) {
            lock.unlock();
            pause_between_flash_commands();
            lock.lock();
        }
    }
    debug_log("fw_write: image transfer complete (%zu bytes, %u packets)\n", static_cast<std::size_t>(length),
              packets);

    // Header last: a unit sees a complete image only once every unit has
    // confirmed every image chunk.
    debug_log("fw_write: resetting address to header location and writing firmware header\n");
    write_.phase = 1;
    for (FlashWriteTarget& t : write_.targets) {
        t.expected_echo = t.current_address = t.base_address;
        t.address_set = false;
        t.chunk_acked = false;
    }
    for (const FlashWriteTarget& t : write_.targets) {
        if (!send_set_address(t.uid, t.base_address)) {
            debug_log("fw_write: failed to send header set-addr for UID %u\n", t.uid);
            end_write_transfer(write_);
            return false;
        }
    }
    wait = wait_slot(write_, lock, disconnecting_, deadline_after(timeout_ms), link_up, all_addresses_set);
    if (!wait.succeeded) {
        debug_log("fw_write: header set-addr failed (complete=%d failed=%d)\n", wait.complete ? 1 : 0,
                  write_.failed ? 1 : 0);
        end_write_transfer(write_);
        return false;
    }

    write_.phase = 2;
    write_.chunk_length = kHeaderSize;
    begin_chunk_step(write_.targets);
    if (!send_write_chunk(0, header, kHeaderSize)) {
        debug_log("fw_write: failed to send firmware header\n");
        end_write_transfer(write_);
        return false;
    }
    wait = wait_chunk_echoes(lock, timeout_ms);
    if (!wait.succeeded) {
        debug_log("fw_write: header write failed (complete=%d failed=%d)\n", wait.complete ? 1 : 0,
                  write_.failed ? 1 : 0);
        end_write_transfer(write_);
        return false;
    }

    debug_log("fw_write: firmware header written (%u bytes)\n", kHeaderSize);
    write_.progress(length, length, kPhaseWrite);
    end_write_transfer(write_);
    return true;
}

}  // namespace vk61
