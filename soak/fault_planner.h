// Draws the faults of one soak operation: which replies of which unit go
// wrong, at which erase block, write chunk or host frame, and whether the units
// reboot part-way through.
//
// Every fault is aimed at a reply (or host frame) the operation will produce
// if it gets that far: `skip` is drawn below the number of matching replies,
// so faults land anywhere from the first reply to the last. Faults that an
// earlier failure makes moot stay armed and are cleared after the operation.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fault.h"
#include "flash/flash_types.h"
#include "soak_random.h"
#include "transfer_payload.h"

namespace soak {

enum class SoakFaultKind : std::uint8_t {
    Drop,
    Duplicate,
    Delay,
    Corrupt,
    Nack,
    BadStatus,
    WrongAddress,
    WrongOperation,
    WrongUid,
    WrongSequence,
    Reorder,
    PullCable,
    Reboot,
    UnalignedAddress,
    StuckUnit,
};
inline constexpr std::size_t kSoakFaultKinds = 15;

const char* fault_kind_name(SoakFaultKind kind);
// The kind named name, with '-' for the spaces of fault_kind_name ("bad-status").
std::optional<SoakFaultKind> fault_kind_named(const std::string& name);

// A reboot of every unit at a moment of the operation, sent by the manager
// (reboot_devices from a second thread) or put straight on the bus as if
// another node had sent it.
struct RebootPlan {
    std::chrono::milliseconds after{0};  // from the start of the operation
    std::chrono::milliseconds duration{0};
    bool via_manager = true;
};

// Write addresses inside an erase block, named by some units in their
// prepare replies for one firmware update, and the header's total_size that
// ends the erased space exactly at the image's last byte, so that the block
// of that byte is one the old count from the address's own block missed.
struct AddressPlan {
    std::vector<vk61::FirmwareTarget> addresses;
    std::uint32_t total_size = 0;
};

struct PlannedFault {
    SoakFaultKind kind = SoakFaultKind::Drop;
    std::optional<sim::Fault> sim_fault;   // every kind but Reboot and UnalignedAddress
    std::optional<RebootPlan> reboot;      // Reboot only
    std::optional<AddressPlan> addresses;  // UnalignedAddress only
    std::string text;                      // for the per-operation line and diagnostics

    // The most this fault can add to the operation without failing it: a
    // delay of `value` ms on each reply it acts on.
    std::chrono::milliseconds added_delay() const;
};

class FaultPlanner {
public:
    // Draws from kinds (every kind when empty).
    FaultPlanner(SoakRandom& random, unsigned units, std::vector<SoakFaultKind> kinds = {});

    // count faults for the transfer; expected is how long it takes without
    // faults (the window in which a reboot is placed). At most one reboot.
    std::vector<PlannedFault> plan(const Transfer& transfer, unsigned count, std::chrono::milliseconds expected);

private:
    // A family of replies the operation produces: per_unit of them from each unit.
    struct ReplySite {
        sim::ReplyKind reply;
        std::uint16_t command;
        unsigned per_unit;
        unsigned payload_bytes;  // data bytes of the reply frame (what Corrupt may touch)
        const char* name;
    };
    // Host frames of one command base over the whole operation.
    struct FrameSite {
        std::uint16_t command;
        unsigned frames;
        const char* name;
    };

    std::vector<ReplySite> reply_sites(const Transfer& transfer) const;
    std::vector<FrameSite> frame_sites(const Transfer& transfer) const;
    static bool kind_fits(SoakFaultKind kind, const ReplySite& site);
    // airport: the transfer is an airport upload (a dropped reply may then
    // be the first of a unit that stays silent).
    PlannedFault reply_fault(SoakFaultKind kind, const std::vector<ReplySite>& sites, bool airport);
    PlannedFault cable_fault(const std::vector<FrameSite>& sites);
    PlannedFault reboot_fault(std::chrono::milliseconds expected);
    PlannedFault unaligned_fault(const Transfer& transfer);
    PlannedFault stuck_fault(const Transfer& transfer);
    // Whether kind can still be drawn for this transfer: one reboot and one
    // address plan per operation, and addresses only for firmware updates.
    bool drawable(SoakFaultKind kind, const Transfer& transfer, bool rebooting, bool moved) const;

    SoakRandom& random_;
    unsigned units_;
    std::vector<SoakFaultKind> kinds_;
};

}  // namespace soak
