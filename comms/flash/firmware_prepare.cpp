// Firmware update preparation: the prepare command that collects each unit's
// write address.
//
// Lock order: the registry lock only while the target mask is computed, and
// released before prepare_.mutex is taken; prepare_.mutex, then the transmit
// lock inside the send.
#include "flash/firmware_prepare.h"

#include <algorithm>

#include "debug_log.h"
#include "protocol.h"
#include "uid_mask.h"

namespace vk61 {

FirmwarePrepare::FirmwarePrepare(Link& link, UnitRegistry& registry) : link_(link), registry_(registry) {}

OperationResult FirmwarePrepare::prepare_fw_update(std::vector<FirmwareTarget>* targets_out, unsigned timeout_ms) {
    constexpr OperationStep kStep = OperationStep::Prepare;
    if (targets_out == nullptr) return OperationResult::failure(kStep, FailureReason::InvalidRequest);
    targets_out->clear();
    if (!link_.is_connected()) return OperationResult::failure(kStep, FailureReason::NotConnected);

    const std::uint32_t mask = registry_.target_mask();
    std::unique_lock lock(prepare_.mutex);
    prepare_.arm();
    prepare_.pending_mask = mask;
    prepare_.replies.clear();

    if (!link_.send_command(protocol::kPrepare, protocol::kDlcPrepareRequest, protocol::kPrepareRequest,
                            sizeof protocol::kPrepareRequest)) {
        prepare_.active = false;
        return OperationResult::failure(kStep, FailureReason::SendFailed);
    }
    const FailureReason why =
        wait_for(link_, prepare_, lock, deadline_after(timeout_ms), [this] { return prepare_.pending_mask == 0; });
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
void FirmwarePrepare::handle_reply(const BusFrame& frame) {
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

}  // namespace vk61
