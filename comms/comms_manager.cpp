// The façade: connection and shutdown across the parts, the dispatcher that
// routes every received frame to the part it belongs to, and the operations
// the parts carry out.
#include "comms_manager.h"

#include <utility>

#include "protocol.h"

namespace vk61 {

CommsManager::CommsManager()
    : link_(Link::Handlers{[this](const BusFrame& frame) { dispatch_frame(frame); },
                           [this] { abort_waits(FailureReason::LinkLost); },
                           [this] { registry_.on_usb_reconnected(); }}) {}

CommsManager::~CommsManager() { disconnect(); }

void CommsManager::record_frames(FrameRecorder* recorder) { link_.record_frames(recorder); }

OperationResult CommsManager::connect() {
    return link_.connect([this] { registry_.clear(); }, [this] { return registry_.send_whoami(); });
}

OperationResult CommsManager::reboot_devices() {
    if (!is_connected()) return OperationResult::failure(OperationStep::Reboot, FailureReason::NotConnected);
    if (link_.send_command(protocol::kReboot, protocol::kDlcReboot, &protocol::kRebootCommand, 1))
        return OperationResult::success();
    return OperationResult::failure(OperationStep::Reboot, FailureReason::SendFailed);
}

void CommsManager::disconnect() {
    if (!link_.begin_disconnect()) return;
    // Every wait ends now; a wait that starts later sees the link going.
    abort_waits(FailureReason::Disconnected);
    link_.finish_disconnect();
    registry_.drop_callbacks();
}

void CommsManager::abort_waits(FailureReason why) {
    settings_.abort_waits(why);
    prepare_.abort_wait(why);
    erase_.abort_wait(why);
    writer_.abort_wait(why);
}

void CommsManager::set_devices_changed_callback(std::function<void()> callback) {
    registry_.set_devices_changed_callback(std::move(callback));
}

void CommsManager::set_reconnected_callback(std::function<void()> callback) {
    registry_.set_reconnected_callback(std::move(callback));
}

// Receive thread, or a test or fuzzer feeding frames.
void CommsManager::dispatch_frame(const BusFrame& frame) {
    const std::uint32_t base = frame.identifier() & protocol::kBaseMask;
    const std::uint8_t dlc = frame.dlc();
    const std::uint8_t* data = frame.data();

    settings_.trace_while_reading(frame);

    switch (base) {
    case protocol::kWhoami:
        if (dlc == protocol::kDlcWhoamiReply) registry_.handle_whoami_reply(frame);
        break;
    case protocol::kAcknowledgement:
        // DLC code 7 is a sequenced acknowledgement, DLC code 4 a plain
        // one; any other length is not an acknowledgement. An erase run in
        // progress claims the acknowledgements of its own erase commands
        // before the settings channel looks at them.
        if (dlc == protocol::kDlcSequencedAck) {
            if (!erase_.claim_ack(frame)) settings_.handle_sequenced_ack(frame);
        } else if (dlc == protocol::kDlcPlainAck) {
            settings_.handle_plain_ack(frame);
        }
        break;
    case protocol::kFlashReply:
        // A flash reply belongs either to the running write transfer or
        // to the running erase run; each handler ignores what is not its own.
        writer_.handle_reply(frame);
        erase_.handle_reply(frame);
        break;
    case protocol::kSettingReply: settings_.handle_setting_reply(frame); break;
    case protocol::kPrepare:
        if (dlc == protocol::kDlcPrepareReply) prepare_.handle_reply(frame);
        break;
    case protocol::kClientInfo:
        if (dlc != protocol::kDlcClientInfo) break;
        if (data[0] == protocol::kOccupancyReport) {
            registry_.handle_occupancy_report(frame);
        } else if (data[0] <= protocol::kHighestUid) {
            registry_.handle_client_info_reply(frame);
        }
        break;
    default: break;  // not ours: dropped without a word
    }
}

// ---- the operations, each carried out by its part ----

OperationResult CommsManager::read_setting_value(std::uint8_t index, unsigned timeout_ms, std::uint32_t* value) {
    return settings_.read_setting_value(index, timeout_ms, value);
}

OperationResult CommsManager::write_setting(std::uint8_t index, std::uint32_t value, unsigned timeout_ms) {
    return settings_.write_setting(index, value, timeout_ms);
}

OperationResult CommsManager::save_user_settings(std::uint32_t checksum, unsigned timeout_ms) {
    return settings_.save_user_settings(checksum, timeout_ms);
}

OperationResult CommsManager::run_sequenced_command(std::uint16_t command,
                                                    const std::function<bool(std::uint32_t)>& send, unsigned timeout_ms,
                                                    const char* name, OperationStep step) {
    return settings_.run_sequenced_command(command, send, timeout_ms, name, step);
}

OperationResult CommsManager::wait_legacy_ack(std::uint8_t uid, std::uint16_t command,
                                              const std::function<bool()>& send, unsigned timeout_ms,
                                              OperationStep step) {
    return settings_.wait_legacy_ack(uid, command, send, timeout_ms, step);
}

OperationResult CommsManager::extflash_raw(std::uint8_t uid, std::uint32_t address, const std::uint8_t* data,
                                           std::uint64_t size, unsigned timeout_ms, const ProgressCallback& progress,
                                           FlashConfirmed* confirmed) {
    return writer_.extflash_raw(uid, address, data, size, timeout_ms, progress, confirmed);
}

OperationResult CommsManager::erase_fw_update_blocks(const std::vector<FirmwareTarget>& targets, std::uint32_t size,
                                                     unsigned timeout_ms, const ProgressCallback& progress,
                                                     FlashConfirmed* confirmed) {
    return erase_.erase_fw_update_blocks(targets, size, timeout_ms, progress, confirmed);
}

OperationResult CommsManager::erase_flash_blocks(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms,
                                                 const ProgressCallback& progress, FlashConfirmed* confirmed) {
    return erase_.erase_flash_blocks(jobs, timeout_ms, progress, confirmed);
}

OperationResult CommsManager::write_flash_together(const std::vector<FirmwareTarget>& units, const std::uint8_t* data,
                                                   std::uint64_t size, unsigned timeout_ms,
                                                   const ProgressCallback& progress, FlashConfirmed* confirmed) {
    return writer_.write_flash_together(units, data, size, timeout_ms, progress, confirmed);
}

OperationResult CommsManager::prepare_fw_update(std::vector<FirmwareTarget>* targets_out, unsigned timeout_ms) {
    return prepare_.prepare_fw_update(targets_out, timeout_ms);
}

OperationResult CommsManager::write_fw_image(const std::vector<FirmwareTarget>& targets, std::uint32_t image_offset,
                                             const std::uint8_t* image, std::uint64_t length,
                                             const std::uint8_t* header, unsigned timeout_ms,
                                             const ProgressCallback& progress) {
    return writer_.write_fw_image(targets, image_offset, image, length, header, timeout_ms, progress);
}

OperationResult CommsManager::upload_airport_db(std::uint8_t uid, const char* path, unsigned erase_timeout_ms,
                                                unsigned write_timeout_ms, const ProgressCallback& progress) {
    return airport_.upload_airport_db(uid, path, erase_timeout_ms, write_timeout_ms, progress);
}

OperationResult CommsManager::upload_airport_db(std::uint8_t uid, const std::uint8_t* data, std::uint64_t size,
                                                unsigned erase_timeout_ms, unsigned write_timeout_ms,
                                                const ProgressCallback& progress, FlashConfirmed* confirmed) {
    return airport_.upload_airport_db(uid, data, size, erase_timeout_ms, write_timeout_ms, progress, confirmed);
}

OperationResult CommsManager::airport_db_command(std::uint8_t uid, bool open, bool* sent) {
    return airport_.airport_db_command(uid, open, sent);
}

}  // namespace vk61
