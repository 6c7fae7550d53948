// CommsManager: the single owner of the bus.
//
// It owns both links, the unit registry, the wait slots of its blocking
// operations (one WaitSlot each, wait_slot.h) and the receive thread. Operations block their calling thread
// (GUI or transfer worker) for at most their time-out; the receive thread
// reads every frame, dispatches it to the handler of its identifier base and,
// while the USB link is down, reopens it every 500 ms.
//
// Locks:
//  - transmit_mutex_: serialises every write to the link; always innermost.
//  - registry_mutex_: the registry and the two occupancy masks. Callbacks are
//    copied under it and invoked after it is released.
//  - one mutex per wait slot (disconnect() and a dropped link end every
//    armed wait through its abort()). A waiting operation holds its slot's lock while
//    it sends its request (so the reply cannot be matched before the slot is
//    armed) and releases it only inside the condition wait. The transmit lock
//    may be taken while a slot lock is held, never the other way about; the
//    registry lock is never taken inside a slot lock; the erase-run lock and
//    the sequenced-command lock are never held together, nor the erase-run
//    lock and the write-transfer lock.
// sequence_, receiving_, stop_receiving_ and disconnecting_ are atomics read
// without locks. disconnect() must not be called from the receive thread.
//
// Implementation files: comms_manager.cpp (links, transmit, receive loop,
// disconnect), dispatcher.cpp, discovery.cpp, settings_exchange.cpp and the
// flash operations in flash/.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus_frame.h"
#include "device_info.h"
#include "flash/flash_types.h"
#include "operation_result.h"
#include "transport/can_fd_transport.h"
#include "transport/hid_transport.h"
#include "transport/interface_kind.h"
#include "transport/recording_transport.h"
#include "wait_slot.h"

namespace vk61 {

class CommsManager {
public:
    static constexpr std::uint16_t kUsbVendorId = 0x16D0;
    static constexpr std::uint16_t kUsbProductId = 0x14C7;
    static constexpr const char* kCanInterfaceName = "can0";

    CommsManager();
    ~CommsManager();  // disconnect(), then the links are destroyed
    CommsManager(const CommsManager&) = delete;
    CommsManager& operator=(const CommsManager&) = delete;

    // ---- links, receive thread, shutdown (comms_manager.cpp) ----

    // Every frame the links send or receive from now on also goes to
    // recorder (null: none), which must outlive the manager. Call it before
    // connect().
    void record_frames(FrameRecorder* recorder);
    // Opens USB HID, else CAN FD; starts the receive thread and sends WHOAMI.
    bool connect();
    InterfaceKind interface_kind() const { return kind_.load(); }
    bool is_connected() const;
    // Sends one frame on the link of the given kind (under the transmit lock).
    bool transmit(InterfaceKind kind, const BusFrame& frame);
    // Broadcasts the reboot command; nothing is awaited.
    bool reboot_devices();
    void set_devices_changed_callback(std::function<void()> callback);
    void set_reconnected_callback(std::function<void()> callback);
    // Aborts every wait, stops and joins the receive thread, closes both
    // links. Idempotent; the manager is not reused afterwards.
    void disconnect();

    // ---- discovery (discovery.cpp) ----

    std::vector<DeviceInfo> device_snapshot() const;
    std::uint8_t primary_uid() const;
    bool rediscover();
    // A point in the stream of unit replies: units_heard_since(mark) names the
    // units heard after it was taken. Taken before a command that silences
    // the units (a reboot), it tells which units have answered since, however
    // fast or in whatever order their replies came.
    std::uint64_t hearing_mark() const;
    // Bit n set: UID n (1-15) sent a WHOAMI or client-information reply, or
    // was marked alive by an occupancy report, after the mark was taken.
    std::uint32_t units_heard_since(std::uint64_t mark) const;

    // ---- settings exchange (settings_exchange.cpp) ----

    // Every operation below blocks its caller for at most its time-out and
    // ends at once when the link drops or disconnect() begins. Each returns an
    // OperationResult (operation_result.h): success, or the step that failed,
    // the unit concerned and why.

    // Reads one element from the primary unit. Waits up to timeout_ms for the
    // reply. Returns the value, or -1 on any failure (a stored 0xFFFFFFFF
    // reads the same as a failure).
    std::int32_t read_setting(std::uint8_t index, unsigned timeout_ms);
    // Like read_setting, but tells a stored 0xFFFFFFFF from a failure.
    OperationResult read_setting_value(std::uint8_t index, unsigned timeout_ms, std::uint32_t* value);
    // Writes one element to every target unit; waits up to timeout_ms for all
    // of their acknowledgements.
    OperationResult write_setting(std::uint8_t index, std::uint32_t value, unsigned timeout_ms);
    // Makes every target unit store its settings; waits up to timeout_ms.
    OperationResult save_user_settings(std::uint32_t checksum, unsigned timeout_ms);
    // The mechanism behind write_setting and save_user_settings: arms the
    // sequenced-command slot for the target mask, runs send(sequence) with the
    // slot locked, and waits up to timeout_ms until every target acknowledged.
    // A failure names `step`.
    OperationResult run_sequenced_command(std::uint16_t command, const std::function<bool(std::uint32_t)>& send,
                                          unsigned timeout_ms, const char* name, OperationStep step);
    // Arms the plain-acknowledgement slot for (uid, command), runs send() with
    // the slot locked, and waits up to timeout_ms for the unit's acknowledgement.
    // A failure names `step`.
    OperationResult wait_legacy_ack(std::uint8_t uid, std::uint16_t command, const std::function<bool()>& send,
                                    unsigned timeout_ms, OperationStep step);

    // ---- external flash (flash/) ----

    // Writes size bytes into one unit's flash from address upward; timeout_ms
    // limits each single wait (the address echo, each chunk's echo).
    // confirmed (may be null) receives how far the unit's echoes reached.
    OperationResult extflash_raw(std::uint8_t uid, std::uint32_t address, const std::uint8_t* data,
                                 std::uint64_t size, unsigned timeout_ms, ProgressFn progress, const void* user,
                                 FlashConfirmed* confirmed = nullptr);
    // Erases, on each target, every block that holds a byte of write address
    // .. write address + size - 1 (so a unit whose address lies inside a block
    // may need one block more than another), one block in flight per unit;
    // timeout_ms limits the whole run.
    // confirmed (may be null) receives the blocks each unit reported erased.
    OperationResult erase_fw_update_blocks(const std::vector<FirmwareTarget>& targets, std::uint32_t size,
                                           unsigned timeout_ms, ProgressFn progress, const void* user,
                                           FlashConfirmed* confirmed = nullptr);
    // The same run over given blocks of each unit (each below block 0xFFFF),
    // one block in flight per unit; timeout_ms limits the whole run.
    OperationResult erase_flash_blocks(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms, ProgressFn progress,
                                       const void* user, FlashConfirmed* confirmed = nullptr);
    // Writes data at each unit's own address, the units side by side: with
    // more than one unit each chunk goes out once, to every unit on the bus
    // (UID 0), so the caller must know that no other unit is listening with a
    // write address it did not set. timeout_ms limits each wait; confirmed
    // (may be null) receives how far each unit's echoes reached.
    OperationResult write_flash_together(const std::vector<FirmwareTarget>& units, const std::uint8_t* data,
                                         std::uint64_t size, unsigned timeout_ms, ProgressFn progress,
                                         const void* user, FlashConfirmed* confirmed = nullptr);
    // Asks every unit for its firmware write address; waits up to timeout_ms.
    OperationResult prepare_fw_update(std::vector<FirmwareTarget>* targets_out, unsigned timeout_ms);
    // Writes the image at write address + image_offset on every target, then
    // the 64-byte header at the write address; timeout_ms limits each wait.
    OperationResult write_fw_image(const std::vector<FirmwareTarget>& targets, std::uint32_t image_offset,
                                   const std::uint8_t* image, std::uint64_t length, const std::uint8_t* header,
                                   unsigned timeout_ms, ProgressFn progress, const void* user);
    // Replaces the airport database of one unit (close, erase, write, open)
    // with the file at path, read once before anything is sent.
    OperationResult upload_airport_db(std::uint8_t uid, const char* path, unsigned erase_timeout_ms,
                                      unsigned write_timeout_ms, ProgressFn progress, const void* user);
    // The same with the database's bytes, read by the caller.
    // confirmed (may be null) receives what the unit confirmed of the erase
    // and the write.
    OperationResult upload_airport_db(std::uint8_t uid, const std::uint8_t* data, std::uint64_t size,
                                      unsigned erase_timeout_ms, unsigned write_timeout_ms, ProgressFn progress,
                                      const void* user, FlashConfirmed* confirmed = nullptr);

    // Closes (open false) or opens one unit's airport database and waits up
    // to 5000 ms for its acknowledgement; sent (may be null) tells whether
    // the command went out.
    OperationResult airport_db_command(std::uint8_t uid, bool open, bool* sent = nullptr);

    // Takes the next 24-bit sequence number (never 0); shared by sequenced
    // commands and erase commands.
    std::uint32_t next_sequence();

    // The dispatcher; public so tests and fuzzers can feed frames directly.
    // Runs on the receive thread in normal operation.
    void dispatch_frame(const BusFrame& frame);

private:
    // Lets the fuzz harness arm the wait slots directly.
    friend struct CommsManagerFuzzAccess;

    // ---- wait slots (wait_slot.h) ----
    struct SettingReadSlot : WaitSlot {
        std::uint8_t wanted_uid = 0;
        std::uint8_t wanted_index = 0;
        std::uint32_t raw_value = 0;  // the value as received, 0xFFFFFFFF included
        bool done = false;
    };
    struct SequencedCommandSlot : WaitSlot {
        std::uint32_t sequence = 0;
        std::uint16_t command = 0;
        std::uint32_t pending_mask = 0;
    };
    struct PlainAckSlot : WaitSlot {
        std::uint8_t uid = 0;
        std::uint16_t command = 0;  // low 11 bits
        bool complete = false;
    };
    struct PrepareState : WaitSlot {
        std::uint32_t pending_mask = 0;
        std::vector<FirmwareTarget> replies;
    };
    struct EraseRunState : WaitSlot {
        bool paced = false;
        std::uint32_t total_blocks = 0;
        std::uint32_t erased_blocks = 0;
        ProgressCallback progress;
        std::vector<FlashEraseJob> jobs;
    };
    // What the units' next echo answers.
    enum class WritePhase : std::uint8_t { Idle, SetAddress, WriteChunk };
    struct WriteTransferState : WaitSlot {
        WritePhase phase = WritePhase::Idle;
        std::uint32_t chunk_length = 0;
        ProgressCallback progress;
        std::vector<FlashWriteTarget> targets;

        // Lock held: a new transfer, setting its first addresses.
        void begin(ProgressCallback callback) {
            arm();
            phase = WritePhase::SetAddress;
            chunk_length = 0;
            progress = callback;
            targets.clear();
        }
        void end() {
            active = false;
            phase = WritePhase::Idle;
            progress = {};
        }
    };

    // Waits, with `lock` holding slot.mutex, until done() holds, the slot
    // fails, the link drops or disconnect() begins; at most until deadline.
    // Returns None once done, else why not: TimedOut or the slot's failure
    // (a dropped link and disconnect() are recorded in the slot first).
    // Returns with the lock held.
    template <class Done>
    FailureReason wait_for(WaitSlot& slot, std::unique_lock<std::mutex>& lock, WaitClock::time_point deadline,
                           Done done) {
        for (;;) {
            if (disconnecting_.load()) {
                slot.fail(FailureReason::Disconnected);
            } else if (!slot.failed() && !done() && !is_connected()) {
                slot.fail(FailureReason::LinkLost);
            }
            if (slot.failed()) return slot.failure;
            if (done()) return FailureReason::None;
            const auto now = WaitClock::now();
            if (now >= deadline) return FailureReason::TimedOut;
            slot.cv.wait_until(lock, std::min(deadline, now + kLinkCheckPeriod));
        }
    }
    // The shape of every single-request exchange: arms the slot (arm() and
    // set_up()), runs send() with the slot locked so the reply cannot be
    // matched before the slot is armed, and waits for done() up to deadline.
    // finish(why) runs under the lock once the wait ended, to read the slot.
    // Returns SendFailed (without waiting) when send() failed.
    template <class SetUp, class Send, class Done, class Finish>
    FailureReason exchange(WaitSlot& slot, WaitClock::time_point deadline, SetUp set_up, Send send, Done done,
                           Finish finish) {
        std::unique_lock lock(slot.mutex);
        slot.arm();
        set_up();
        if (!send()) {
            slot.active = false;
            return FailureReason::SendFailed;
        }
        const FailureReason why = wait_for(slot, lock, deadline, done);
        slot.active = false;
        finish(why);
        return why;
    }
    // Every slot, for disconnect() and the receive loop.
    std::array<WaitSlot*, 6> wait_slots();
    // Ends every armed wait with `why`.
    void abort_waits(FailureReason why);

    // ---- comms_manager.cpp ----
    void start_receive_thread();
    void stop_receive_thread();
    void receive_loop();
    BusFrame build_frame(std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload,
                         std::size_t len) const;
    bool send_command(std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload, std::size_t len);
    bool send_whoami();

    // ---- discovery.cpp ----
    bool upsert_device(const DeviceInfo& record);  // registry lock held
    void note_heard(unsigned uid);                 // registry lock held
    void handle_whoami_reply(const BusFrame& frame);
    void handle_occupancy_report(const BusFrame& frame);
    void handle_client_info_reply(const BusFrame& frame);
    bool usb_reconnect_step();  // receive thread only
    std::uint32_t target_mask() const;  // takes the registry lock

    // ---- settings_exchange.cpp ----
    void settings_rx(const BusFrame& frame);
    void handle_acknowledgement(const BusFrame& frame);
    void handle_sequenced_ack(const BusFrame& frame);
    void handle_plain_ack(const BusFrame& frame);

    // ---- flash/ ----
    void handle_flash_write_reply(const BusFrame& frame);
    // Waits (write lock held by `lock`) up to timeout_ms for every target's
    // echo of the chunk in flight; see flash_write.cpp for the repeated echo.
    FailureReason wait_chunk_echoes(std::unique_lock<std::mutex>& lock, unsigned timeout_ms);
    // Sends data in chunks to uid (0: every target at once), each after the
    // previous one was echoed by every target; `log` names the operation in
    // its lines. Write lock held; released only in the waits and the pauses.
    OperationResult write_chunks(std::unique_lock<std::mutex>& lock, std::uint8_t uid, const std::uint8_t* data,
                                 std::uint64_t size, unsigned timeout_ms, const char* log, unsigned* packets);
    // Sets every write target's address to its expected echo and waits for
    // every echo; write lock held.
    OperationResult set_write_addresses(std::unique_lock<std::mutex>& lock, unsigned timeout_ms, OperationStep step,
                                        const char* what);
    // The result of a failed step of the write transfer; names the unit that
    // failed it or, after a wait, the first that did not answer.
    OperationResult write_failure(OperationStep step, FailureReason why) const;
    void handle_flash_erase_reply(const BusFrame& frame);
    // Claims a sequenced acknowledgement that belongs to the erase run; true
    // when it did (the sequenced-command matching then ignores the frame).
    bool claim_erase_ack(const BusFrame& frame);
    void handle_prepare_reply(const BusFrame& frame);
    // Sends the next erase command of every idle job; erase lock held (it is
    // released around the 500 us pauses).
    void dispatch_erase_blocks(std::unique_lock<std::mutex>& erase_lock);
    // The erase run behind both public forms; the jobs were checked.
    OperationResult run_erase(const std::vector<EraseBlocks>& jobs, unsigned timeout_ms, ProgressCallback progress,
                              FlashConfirmed* confirmed);
    // Write lock held: records how far each target's echoes reached.
    void note_written(FlashConfirmed* confirmed) const;
    bool send_set_address(std::uint8_t uid, std::uint32_t address);
    bool send_write_chunk(std::uint8_t uid, const std::uint8_t* data, std::uint32_t length);
    bool send_erase_block(std::uint8_t uid, std::uint32_t sequence, std::uint16_t block);

    // The link of a kind: the transport itself, or its recording wrapper.
    Transport& link(InterfaceKind kind);
    const Transport& link(InterfaceKind kind) const;

    // ---- members, in this order ----
    HidTransport hid_{kUsbVendorId, kUsbProductId};
    CanFdTransport can_{kCanInterfaceName};
    // Set by record_frames() before the receive thread starts; read-only after.
    std::unique_ptr<RecordingTransport> recorded_hid_;
    std::unique_ptr<RecordingTransport> recorded_can_;
    std::atomic<InterfaceKind> kind_{InterfaceKind::UsbHid};
    std::mutex transmit_mutex_;

    mutable std::mutex registry_mutex_;
    std::vector<DeviceInfo> registry_;       // guarded by registry_mutex_
    std::uint32_t occupied_mask_ = 0;        // guarded by registry_mutex_
    std::uint32_t alive_mask_ = 0;           // guarded by registry_mutex_
    std::function<void()> devices_changed_;  // guarded by registry_mutex_
    std::function<void()> reconnected_;      // guarded by registry_mutex_
    // Hearing serial: counts unit replies; last_heard_[uid] is the serial of
    // that unit's latest one (0 = never). Guarded by registry_mutex_.
    std::uint64_t hearing_serial_ = 0;
    std::array<std::uint64_t, 16> last_heard_{};

    SettingReadSlot read_slot_;
    SequencedCommandSlot sequenced_slot_;
    std::atomic<std::uint32_t> sequence_{1};
    PlainAckSlot plain_ack_slot_;
    PrepareState prepare_;
    EraseRunState erase_;
    WriteTransferState write_;

    std::thread receive_thread_;
    std::atomic<bool> receiving_{false};
    std::atomic<bool> stop_receiving_{false};
    std::atomic<bool> disconnecting_{false};
};

}  // namespace vk61
