// Routing of received frames to their handlers by identifier base.
#include "comms_manager.h"
#include "debug_log.h"

namespace vk61 {

void CommsManager::dispatch_frame(const BusFrame& frame) {
    const std::uint32_t identifier = frame.identifier();
    const std::uint32_t base = identifier & 0x7F0u;
    const std::uint8_t dlc = frame.dlc();
    const std::uint8_t* data = frame.data();

    {
        // Every frame that arrives while a setting read waits is traced.
        std::lock_guard lock(read_slot_.mutex);
        if (read_slot_.waiting) {
            debug_log("rx: can=0x%03X base=0x%03X dlc=%u data[0]=%u data[1]=%u\n", identifier & 0x7FFu, base,
                      static_cast<unsigned>(dlc), static_cast<unsigned>(data[0]), static_cast<unsigned>(data[1]));
        }
    }

    switch (base) {
        case 0x010:
            if (dlc == 9) handle_whoami_reply(frame);
            break;
        case 0x0E0:
            handle_acknowledgement(frame);
            break;
        case 0x0F0:
            // A flash reply belongs either to the running write transfer or
            // to the running erase run; each handler ignores what is not its own.
            handle_flash_write_reply(frame);
            handle_flash_erase_reply(frame);
            break;
        case 0x380:
            settings_rx(frame);
            break;
        case 0x730:
            if (dlc == 5) handle_prepare_reply(frame);
            break;
        case 0x790:
            if (dlc != 9) break;
            if (data[0] == 0x72) {
                handle_occupancy_report(frame);
            } else if (data[0] <= 15) {
                handle_client_info_reply(frame);
            }
            break;
        default:
            break;  // not ours: dropped without a word
    }
}

}  // namespace vk61
