// FirmwarePrepare: the prepare command of a firmware update, which asks every
// target unit for the address its new image goes to.
//
// Threads: prepare_fw_update() blocks its calling thread (the firmware
// worker) for at most its time-out; handle_reply() runs on the receive thread.
// Locks: the registry lock only while the target mask is taken, released
// before prepare_.mutex (the wait slot, wait_slot.h); prepare_.mutex is held
// while the request is sent (the transmit lock inside) and released only
// inside the condition wait.
#pragma once

#include <cstdint>
#include <vector>

#include "bus_frame.h"
#include "flash/flash_types.h"
#include "link.h"
#include "operation_result.h"
#include "unit_registry.h"
#include "wait_slot.h"

namespace vk61 {

class FirmwarePrepare {
public:
    FirmwarePrepare(Link& link, UnitRegistry& registry);
    FirmwarePrepare(const FirmwarePrepare&) = delete;
    FirmwarePrepare& operator=(const FirmwarePrepare&) = delete;

    // Asks every target unit for its firmware write address; waits up to
    // timeout_ms for all of them. targets_out is sorted by UID.
    OperationResult prepare_fw_update(std::vector<FirmwareTarget>* targets_out, unsigned timeout_ms);

    // Receive thread: a prepare reply (DLC code 5).
    void handle_reply(const BusFrame& frame);
    // Ends the armed wait with `why`.
    void abort_wait(FailureReason why) { prepare_.abort(why); }

private:
    // Lets the fuzz harness arm the wait slot directly.
    friend struct CommsManagerFuzzAccess;

    struct PrepareState : WaitSlot {
        std::uint32_t pending_mask = 0;
        std::vector<FirmwareTarget> replies;
    };

    Link& link_;
    UnitRegistry& registry_;
    PrepareState prepare_;
};

}  // namespace vk61
