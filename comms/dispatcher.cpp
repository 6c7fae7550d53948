// Routing of received frames to their handlers by identifier base.
#include "comms_manager.h"
#include "protocol.h"
#include "debug_log.h"

namespace vk61 {

void CommsManager::dispatch_frame(const BusFrame& frame) {
    const std::uint32_t identifier = frame.identifier();
    const std::uint32_t base = identifier & protocol::kBaseMask;
    const std::uint8_t dlc = frame.dlc();
    const std::uint8_t* data = frame.data();

    {
        // Every frame that arrives while a setting read waits is traced.
        std::lock_guard lock(read_slot_.mutex);
        if (read_slot_.active) {
            debug_log("rx: can=0x%03X base=0x%03X dlc=%u data[0]=%u data[1]=%u\n", identifier & protocol::kIdentifierMask, base,
                      static_cast<unsigned>(dlc), static_cast<unsigned>(data[0]), static_cast<unsigned>(data[1]));
        }
    }

    switch (base) {
        case protocol::kWhoami:
            if (dlc == protocol::kDlcWhoamiReply) handle_whoami_reply(frame);
            break;
        case protocol::kAcknowledgement:
            handle_acknowledgement(frame);
            break;
        case protocol::kFlashReply:
            // A flash reply belongs either to the running write transfer or
            // to the running erase run; each handler ignores what is not its own.
            handle_flash_write_reply(frame);
            handle_flash_erase_reply(frame);
            break;
        case protocol::kSettingReply:
            settings_rx(frame);
            break;
        case protocol::kPrepare:
            if (dlc == protocol::kDlcPrepareReply) handle_prepare_reply(frame);
            break;
        case protocol::kClientInfo:
            if (dlc != protocol::kDlcClientInfo) break;
            if (data[0] == protocol::kOccupancyReport) {
                handle_occupancy_report(frame);
            } else if (data[0] <= protocol::kHighestUid) {
                handle_client_info_reply(frame);
            }
            break;
        default:
            break;  // not ours: dropped without a word
    }
}

}  // namespace vk61
