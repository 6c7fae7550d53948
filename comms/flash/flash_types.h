// Types shared by the external-flash operations of the manager.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "protocol.h"

namespace vk61 {

// The phase a progress report counts.
enum class ProgressPhase : std::uint64_t { Erase = 0, Write = 1 };

// Progress of a flash transfer: the Erase phase counts erased 64 KiB blocks,
// the Write phase written bytes. Called on the thread that drives the transfer
// or, for erase progress, on the receive thread; never concurrently for one
// transfer. It is called with the transfer's lock held, so it must only record
// values and post work elsewhere, never call back into the manager.
//
// An empty callback means no progress; calling one does nothing. A transfer
// copies the callback once when it starts, never per chunk.
class ProgressCallback {
public:
    using Function = std::function<void(std::uint64_t done, std::uint64_t total, ProgressPhase phase)>;

    ProgressCallback() = default;
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, ProgressCallback> && std::is_constructible_v<Function, F>)
        ProgressCallback(F&& fn)
        : fn_(std::forward<F>(fn)) {}

    explicit operator bool() const { return static_cast<bool>(fn_); }
    void operator()(std::uint64_t done, std::uint64_t total, ProgressPhase phase) const {
        if (fn_) fn_(done, total, phase);
    }

private:
    Function fn_;
};

inline constexpr std::uint32_t kFlashBlockSize = protocol::kFlashBlockBytes;  // one erase block
inline constexpr std::uint32_t kFlashChunkSize = 64;                          // one write chunk

// A unit taking part in a firmware update, with the write address it reported.
struct FirmwareTarget {
    std::uint8_t uid = 0;
    std::uint32_t write_address = 0;
};

// Per-unit state of a running write transfer.
struct FlashWriteTarget {
    std::uint8_t uid = 0;
    std::uint32_t base_address = 0;
    std::uint32_t image_address = 0;
    std::uint32_t expected_echo = 0;  // set-address echo awaited
    std::uint32_t current_address = 0;
    bool address_set = false;
    bool chunk_acked = false;

    // The echo this unit gave last that was counted: for the step in flight
    // once its flag is set, else for the step before. A second copy of it is
    // no answer to the step in flight.
    bool has_last_echo = false;
    std::uint8_t last_echo_op = 0;
    std::uint32_t last_echo_address = 0;
    // When, during the chunk in flight, the unit repeated its previous chunk
    // echo: a late copy if this chunk's own echo follows, else a unit that
    // stopped advancing.
    std::optional<std::chrono::steady_clock::time_point> repeated_echo_at;
};

// Before the next chunk goes out: no unit has answered it yet.
template <class Targets>
void begin_chunk_step(Targets& targets) {
    for (FlashWriteTarget& t : targets) {
        t.chunk_acked = false;
        t.repeated_echo_at.reset();
    }
}

// What the units confirmed during a flash operation, for a caller that must
// know how far a failed transfer got. Filled when the operation ends, success
// or not; a unit absent from a map confirmed nothing of that kind.
struct FlashConfirmed {
    // Per unit: the blocks whose erase it reported done, in that order.
    std::map<std::uint8_t, std::vector<std::uint16_t>> erased;
    // Per unit whose write address was set: its echoes confirmed every byte
    // below this address (the address itself when no chunk was confirmed).
    std::map<std::uint8_t, std::uint32_t> written_to;
};

// One unit's part of an erase run: the blocks to erase, in this order.
struct EraseBlocks {
    std::uint8_t uid = 0;
    std::vector<std::uint16_t> blocks;
};

// Per-unit state of a running erase run.
struct FlashEraseJob {
    enum State : std::uint8_t { Idle = 0, AwaitingAck = 1, AwaitingReply = 2 };

    std::uint8_t uid = 0;
    std::deque<std::uint16_t> queue;  // blocks still to erase
    bool in_flight = false;
    State state = Idle;
    std::uint32_t sequence = 0;            // 24-bit sequence of the command in flight
    std::uint16_t block = 0;               // block in flight
    std::uint32_t expected_address = 0;    // block_start(block)
    std::vector<std::uint16_t> confirmed;  // blocks reported erased
};

}  // namespace vk61
