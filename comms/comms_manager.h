// CommsManager: the single owner of the bus and the one entry to it for the
// window, the command-line tool and the core. A façade: each concern is a part
// of its own that states its thread and lock rules at its top: Link (link.h),
// UnitRegistry (unit_registry.h), SettingsChannel (settings_channel.h),
// FirmwarePrepare, EraseRun, FlashWriter and AirportDatabase (flash/). Every
// blocking operation waits in a WaitSlot of its part (wait_slot.h) for at most
// its time-out and ends at once when the link drops or disconnect() begins.
// The manager holds no lock: it routes received frames to the parts
// (dispatch_frame, receive thread) and ends every wait in disconnect(), which
// must not be called from the receive thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "bus_frame.h"
#include "device_info.h"
#include "flash/airport_database.h"
#include "flash/erase_run.h"
#include "flash/firmware_prepare.h"
#include "flash/flash_types.h"
#include "flash/flash_writer.h"
#include "link.h"
#include "operation_result.h"
#include "sequence_counter.h"
#include "settings_channel.h"
#include "unit_registry.h"

namespace vk61 {

class CommsManager {
public:
    static constexpr std::uint16_t kUsbVendorId = Link::kUsbVendorId;
    static constexpr std::uint16_t kUsbProductId = Link::kUsbProductId;
    static constexpr const char* kCanInterfaceName = Link::kCanInterfaceName;

    CommsManager();
    ~CommsManager();  // disconnect(), then the parts are destroyed
    CommsManager(const CommsManager&) = delete;
    CommsManager& operator=(const CommsManager&) = delete;

    // ---- link (link.h) ----
    void record_frames(FrameRecorder* recorder);  // before connect()
    // Opens USB HID, else CAN FD; starts the receive thread and sends WHOAMI.
    OperationResult connect();
    InterfaceKind interface_kind() const { return link_.kind(); }
    bool is_connected() const { return link_.is_connected(); }
    bool transmit(InterfaceKind kind, const BusFrame& frame) { return link_.transmit(kind, frame); }
    // Broadcasts the reboot command; nothing is awaited.
    OperationResult reboot_devices();
    // Ends every wait, joins the receive thread, closes both links; idempotent.
    void disconnect();

    // ---- discovery (unit_registry.h) ----
    void set_devices_changed_callback(std::function<void()> callback);
    void set_reconnected_callback(std::function<void()> callback);
    std::vector<DeviceInfo> device_snapshot() const { return registry_.device_snapshot(); }
    std::uint8_t primary_uid() const { return registry_.primary_uid(); }
    OperationResult rediscover() { return registry_.rediscover(); }
    std::uint64_t hearing_mark() const { return registry_.hearing_mark(); }
    std::uint32_t units_heard_since(std::uint64_t mark) const { return registry_.units_heard_since(mark); }

    // ---- settings (settings_channel.h) ----
    OperationResult read_setting_value(std::uint8_t index, unsigned timeout_ms, std::uint32_t* value);
    OperationResult write_setting(std::uint8_t index, std::uint32_t value, unsigned timeout_ms);
    OperationResult save_user_settings(std::uint32_t checksum, unsigned timeout_ms);
    OperationResult run_sequenced_command(std::uint16_t command, const std::function<bool(std::uint32_t)>& send,
                                          unsigned timeout_ms, const char* name, OperationStep step);
    OperationResult wait_legacy_ack(std::uint8_t uid, std::uint16_t command, const std::function<bool()>& send,
                                    unsigned timeout_ms, OperationStep step);

    // ---- external flash (flash/) ----
    OperationResult extflash_raw(std::uint8_t uid, std::uint32_t address, const std::uint8_t* data, std::uint64_t size,
                                 unsigned timeout_ms, const ProgressCallback& progress,
                                 FlashConfirmed* confirmed = nullptr);
    OperationResult erase_fw_update_blocks(const std::vector<FirmwareTarget>& targets, std::uint32_t size,
                                           unsigned timeout_ms, const ProgressCallback& progress,
                                           FlashConfirmed* confirmed = nullptr);
    OperationResult erase_flash_blocks(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms,
                                       const ProgressCallback& progress, FlashConfirmed* confirmed = nullptr);
    OperationResult write_flash_together(const std::vector<FirmwareTarget>& units, const std::uint8_t* data,
                                         std::uint64_t size, unsigned timeout_ms, const ProgressCallback& progress,
                                         FlashConfirmed* confirmed = nullptr);
    OperationResult prepare_fw_update(std::vector<FirmwareTarget>* targets_out, unsigned timeout_ms);
    OperationResult write_fw_image(const std::vector<FirmwareTarget>& targets, std::uint32_t image_offset,
                                   const std::uint8_t* image, std::uint64_t length, const std::uint8_t* header,
                                   unsigned timeout_ms, const ProgressCallback& progress);
    OperationResult upload_airport_db(std::uint8_t uid, const char* path, unsigned erase_timeout_ms,
                                      unsigned write_timeout_ms, const ProgressCallback& progress);
    OperationResult upload_airport_db(std::uint8_t uid, const std::uint8_t* data, std::uint64_t size,
                                      unsigned erase_timeout_ms, unsigned write_timeout_ms,
                                      const ProgressCallback& progress, FlashConfirmed* confirmed = nullptr);
    OperationResult airport_db_command(std::uint8_t uid, bool open, bool* sent = nullptr);

    // The next 24-bit sequence number (never 0), of sequenced and erase commands.
    std::uint32_t next_sequence() { return sequence_.next(); }
    // The dispatcher; public so tests and fuzzers can feed frames directly.
    // Runs on the receive thread in normal operation.
    void dispatch_frame(const BusFrame& frame);

private:
    // Lets the fuzz harness arm the wait slots directly.
    friend struct CommsManagerFuzzAccess;

    // Ends every armed wait with `why`.
    void abort_waits(FailureReason why);

    // Declared first: every part below sends through it.
    Link link_;
    SequenceCounter sequence_;
    UnitRegistry registry_{link_};
    SettingsChannel settings_{link_, registry_, sequence_};
    FirmwarePrepare prepare_{link_, registry_};
    EraseRun erase_{link_, sequence_};
    FlashWriter writer_{link_};
    AirportDatabase airport_{link_, settings_, erase_, writer_};
};

}  // namespace vk61
