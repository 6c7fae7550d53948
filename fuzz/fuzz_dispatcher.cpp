// Fuzz target: the receive dispatcher with every wait slot armed.
//
// Each input is a run of frames of any base, DLC code and payload. Before the
// run every slot is armed as if a setting read, a sequenced command, a plain
// acknowledgement, a prepare, an erase run and a write transfer were all
// waiting, with state drawn from the input. The manager is not connected, so
// every send a handler makes fails, as a pulled cable would.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>

#include "comms_manager.h"

namespace vk61 {

struct CommsManagerFuzzAccess {
    static void arm(CommsManager& manager, FuzzedDataProvider& in) {
        SettingsChannel& settings = manager.settings_;
        FirmwarePrepare& prepare = manager.prepare_;
        EraseRun& erase = manager.erase_;
        FlashWriter& writer = manager.writer_;
        {
            std::lock_guard lock(settings.read_slot_.mutex);
            settings.read_slot_.active = in.ConsumeBool();
            settings.read_slot_.wanted_uid = in.ConsumeIntegral<std::uint8_t>();
            settings.read_slot_.wanted_index = in.ConsumeIntegral<std::uint8_t>();
            settings.read_slot_.done = false;
        }
        {
            std::lock_guard lock(settings.sequenced_slot_.mutex);
            settings.sequenced_slot_.active = in.ConsumeBool();
            settings.sequenced_slot_.sequence = in.ConsumeIntegralInRange<std::uint32_t>(0, 0xFFFFFF);
            settings.sequenced_slot_.command = in.ConsumeIntegral<std::uint16_t>();
            settings.sequenced_slot_.pending_mask = in.ConsumeIntegral<std::uint32_t>();
            settings.sequenced_slot_.failure = FailureReason::None;
        }
        {
            std::lock_guard lock(settings.plain_ack_slot_.mutex);
            settings.plain_ack_slot_.active = in.ConsumeBool();
            settings.plain_ack_slot_.uid = in.ConsumeIntegral<std::uint8_t>();
            settings.plain_ack_slot_.command = in.ConsumeIntegral<std::uint16_t>() & 0x7FF;
            settings.plain_ack_slot_.complete = false;
            settings.plain_ack_slot_.failure = FailureReason::None;
        }
        {
            std::lock_guard lock(prepare.prepare_.mutex);
            prepare.prepare_.active = in.ConsumeBool();
            prepare.prepare_.pending_mask = in.ConsumeIntegral<std::uint32_t>();
            prepare.prepare_.failure = FailureReason::None;
            prepare.prepare_.replies.clear();
        }
        {
            std::lock_guard lock(erase.erase_.mutex);
            erase.erase_.active = in.ConsumeBool();
            erase.erase_.failure = FailureReason::None;
            erase.erase_.paced = false;  // no 500 us pauses: keeps the fuzzer fast
            erase.erase_.total_blocks = in.ConsumeIntegral<std::uint8_t>();
            erase.erase_.erased_blocks = 0;
            erase.erase_.jobs.clear();
            const int jobs = in.ConsumeIntegralInRange(0, 4);
            for (int i = 0; i < jobs; ++i) {
                FlashEraseJob job;
                job.uid = in.ConsumeIntegralInRange<std::uint8_t>(0, 17);
                const int queued = in.ConsumeIntegralInRange(0, 3);
                for (int b = 0; b < queued; ++b) job.queue.push_back(in.ConsumeIntegral<std::uint16_t>());
                job.in_flight = in.ConsumeBool();
                job.state = static_cast<FlashEraseJob::State>(in.ConsumeIntegralInRange(0, 2));
                job.sequence = in.ConsumeIntegralInRange<std::uint32_t>(0, 0xFFFFFF);
                job.block = in.ConsumeIntegral<std::uint16_t>();
                job.expected_address = static_cast<std::uint32_t>(job.block) << 16;
                erase.erase_.jobs.push_back(job);
            }
        }
        {
            std::lock_guard lock(writer.write_.mutex);
            writer.write_.active = in.ConsumeBool();
            writer.write_.failure = FailureReason::None;
            writer.write_.phase = static_cast<FlashWriter::WritePhase>(in.ConsumeIntegralInRange(0, 2));
            writer.write_.chunk_length = in.ConsumeIntegralInRange<std::uint32_t>(0, 64);
            writer.write_.targets.clear();
            const int targets = in.ConsumeIntegralInRange(0, 4);
            for (int i = 0; i < targets; ++i) {
                FlashWriteTarget target;
                target.uid = in.ConsumeIntegralInRange<std::uint8_t>(0, 17);
                target.expected_echo = in.ConsumeIntegral<std::uint32_t>();
                target.current_address = in.ConsumeIntegral<std::uint32_t>();
                target.address_set = in.ConsumeBool();
                target.chunk_acked = in.ConsumeBool();
                writer.write_.targets.push_back(target);
            }
        }
    }
};

}  // namespace vk61

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The handlers log a line for most frames; writing them out would only
    // slow the fuzzer down.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vk61::CommsManager manager;
    static bool callbacks_set = false;
    if (!callbacks_set) {
        // A callback that reads the registry must not deadlock the handler.
        manager.set_devices_changed_callback([] {
            (void)manager.device_snapshot();
            (void)manager.primary_uid();
        });
        callbacks_set = true;
    }

    FuzzedDataProvider in(data, size);
    vk61::CommsManagerFuzzAccess::arm(manager, in);
    while (in.remaining_bytes() > 0) {
        vk61::BusFrame frame;
        const std::uint16_t base = in.ConsumeIntegral<std::uint16_t>();
        frame.set_link(in.ConsumeIntegral<std::uint8_t>());
        frame.set_identifier(in.ConsumeBool() ? (base & 0x7FFu) : base);
        frame.set_dlc(in.ConsumeIntegralInRange<std::uint8_t>(0, 17));
        const std::vector<std::uint8_t> payload = in.ConsumeBytes<std::uint8_t>(vk61::BusFrame::kMaxData);
        std::copy(payload.begin(), payload.end(), frame.data());
        manager.dispatch_frame(frame);
    }
    return 0;
}
