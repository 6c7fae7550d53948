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
#include "debug_log.h"
#include "protocol.h"
#include "flash/timer_resolution.h"

namespace vk61 {

namespace {
constexpr std::uint32_t kHeaderSize = 64;

std::uint8_t lowest_uid(std::uint32_t mask) {
    for (unsigned uid = 1; uid <= protocol::kHighestUid; ++uid) {
        if (mask & (1u << uid)) return static_cast<std::uint8_t>(uid);
    }
    return 0;
}
}  // namespace

OperationResult CommsManager::prepare_fw_update(std::vector<FirmwareTarget>* targets_out, unsigned timeout_ms) {
    constexpr OperationStep kStep = OperationStep::Prepare;
    if (targets_out == nullptr) return OperationResult::failure(kStep, FailureReason::InvalidRequest);
    targets_out->clear();
    if (!is_connected()) return OperationResult::failure(kStep, FailureReason::NotConnected);

    const std::uint32_t mask = target_mask();
    std::unique_lock lock(prepare_.mutex);
    prepare_.arm();
    prepare_.pending_mask = mask;
    prepare_.replies.clear();

    if (!send_command(protocol::kPrepare, protocol::kDlcPrepareRequest, protocol::kPrepareRequest,
                      sizeof protocol::kPrepareRequest)) {
        prepare_.active = false;
        return OperationResult::failure(kStep, FailureReason::SendFailed);
    }
    const FailureReason why =
        wait_for(prepare_, lock, deadline_after(timeout_ms), [this] { return prepare_.pending_mask == 0; });
    prepare_.active = false;
    if (why != FailureReason::None) {
        debug_log("prepare_fw_update: failed pending_mask=0x%02X failed=%d\n", prepare_.pending_mask,
                  prepare_.failed() ? 1 : 0);
        const std::uint8_t uid = prepare_.failed_uid != 0 ? prepare_.failed_uid : lowest_uid(prepare_.pending_mask);
        return OperationResult::failure(kStep, why, uid);
    }
    std::vector<FirmwareTarget> replies = prepare_.replies;
    std::sort(replies.begin(), replies.end(),
              [](const FirmwareTarget& a, const FirmwareTarget& b) { return a.uid < b.uid; });
    *targets_out = std::move(replies);
    return OperationResult::success();
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
        prepare_.fail(FailureReason::Refused, uid);
        return;
    }
    prepare_.replies.push_back(FirmwareTarget{uid, address});
    prepare_.pending_mask &= ~(1u << uid);
    debug_log("prepare_fw_update: UID %u write address 0x%08X\n", uid, address);
    if (prepare_.pending_mask == 0) prepare_.cv.notify_all();
}

// Sends a set-address to every target (its expected_echo) and waits until
// every target echoed it. `what` names the step in the lines ("set-addr",
// "header set-addr").
OperationResult CommsManager::set_write_addresses(std::unique_lock<std::mutex>& lock, unsigned timeout_ms,
                                                  OperationStep step, const char* what) {
    write_.phase = WritePhase::SetAddress;
    for (const FlashWriteTarget& t : write_.targets) {
        if (!send_set_address(t.uid, t.expected_echo)) {
            debug_log("fw_write: failed to send %s for UID %u\n", what, t.uid);
            return OperationResult::failure(step, FailureReason::SendFailed, t.uid);
        }
    }
    const FailureReason why = wait_for(write_, lock, deadline_after(timeout_ms), [this] {
        return std::all_of(write_.targets.begin(), write_.targets.end(),
                           [](const FlashWriteTarget& t) { return t.address_set; });
    });
    if (why == FailureReason::None) return OperationResult::success();
    debug_log("fw_write: %s failed (complete=%d failed=%d)\n", what, why != FailureReason::TimedOut ? 1 : 0,
              write_.failed() ? 1 : 0);
    return write_failure(step, why);
}

// Blocks the calling worker for the whole transfer; each wait for the units'
// echoes (address, each chunk, header) lasts at most timeout_ms.
OperationResult CommsManager::write_fw_image(const std::vector<FirmwareTarget>& targets, std::uint32_t image_offset,
                                             const std::uint8_t* image, std::uint64_t length,
                                             const std::uint8_t* header, unsigned timeout_ms, ProgressFn progress,
                                             const void* user) {
    if (!is_connected()) return OperationResult::failure(OperationStep::SetAddress, FailureReason::NotConnected);
    if (targets.empty() || image == nullptr || length == 0 || header == nullptr) {
        return OperationResult::failure(OperationStep::SetAddress, FailureReason::InvalidRequest);
    }

    const TimerResolution timer_resolution;
    std::unique_lock lock(write_.mutex);
    write_.begin({progress, user});
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
    const auto finish = [this](OperationResult result) {
        write_.end();
        return result;
    };

    // Image address on every unit, then the image body.
    OperationResult result = set_write_addresses(lock, timeout_ms, OperationStep::SetAddress, "set-addr");
    if (!result) return finish(result);
    debug_log("fw_write: all devices set address, uploading %zu bytes\n", static_cast<std::size_t>(length));
    unsigned packets = 0;
    result = write_chunks(lock, 0, image, length, timeout_ms, "fw_write", &packets);
    if (!result) return finish(result);
    debug_log("fw_write: image transfer complete (%zu bytes, %u packets)\n", static_cast<std::size_t>(length),
              packets);

    // Header last: a unit sees a complete image only once every unit has
    // confirmed every image chunk.
    debug_log("fw_write: resetting address to header location and writing firmware header\n");
    for (FlashWriteTarget& t : write_.targets) {
        t.expected_echo = t.current_address = t.base_address;
        t.address_set = false;
        t.chunk_acked = false;
    }
    result = set_write_addresses(lock, timeout_ms, OperationStep::SetHeaderAddress, "header set-addr");
    if (!result) return finish(result);

    write_.phase = WritePhase::WriteChunk;
    write_.chunk_length = kHeaderSize;
    begin_chunk_step(write_.targets);
    if (!send_write_chunk(0, header, kHeaderSize)) {
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

}  // namespace vk61
