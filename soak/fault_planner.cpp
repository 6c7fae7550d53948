#include "fault_planner.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace soak {

namespace {

using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;

constexpr std::array<const char*, kSoakFaultKinds> kNames = {
    "drop",       "duplicate",     "delay",           "corrupt",           "nack",
    "bad status", "wrong address", "wrong operation", "wrong uid",         "wrong sequence",
    "reorder",    "cable pull",    "reboot",          "unaligned address", "stuck unit",
};

FaultKind sim_kind(SoakFaultKind kind) {
    switch (kind) {
    case SoakFaultKind::Drop: return FaultKind::Drop;
    case SoakFaultKind::Duplicate: return FaultKind::Duplicate;
    case SoakFaultKind::Delay: return FaultKind::Delay;
    case SoakFaultKind::Corrupt: return FaultKind::Corrupt;
    case SoakFaultKind::Nack: return FaultKind::Nack;
    case SoakFaultKind::BadStatus: return FaultKind::BadStatus;
    case SoakFaultKind::WrongAddress: return FaultKind::WrongAddress;
    case SoakFaultKind::WrongOperation: return FaultKind::WrongOperation;
    case SoakFaultKind::WrongUid: return FaultKind::WrongUid;
    case SoakFaultKind::WrongSequence: return FaultKind::WrongSequence;
    case SoakFaultKind::Reorder: return FaultKind::Reorder;
    case SoakFaultKind::PullCable: return FaultKind::PullCable;
    case SoakFaultKind::StuckUnit: return FaultKind::StuckAddress;
    case SoakFaultKind::Reboot:
    case SoakFaultKind::UnalignedAddress: break;
    }
    return FaultKind::Drop;
}

std::string format(const char* fmt, auto... args) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

}  // namespace

const char* fault_kind_name(SoakFaultKind kind) { return kNames[static_cast<std::size_t>(kind)]; }

std::optional<SoakFaultKind> fault_kind_named(const std::string& name) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        std::string spelled = kNames[i];
        std::replace(spelled.begin(), spelled.end(), ' ', '-');
        if (spelled == name) return static_cast<SoakFaultKind>(i);
    }
    return std::nullopt;
}

std::chrono::milliseconds PlannedFault::added_delay() const {
    if (kind != SoakFaultKind::Delay || !sim_fault) return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(std::uint64_t{sim_fault->value} * sim_fault->times);
}

FaultPlanner::FaultPlanner(SoakRandom& random, unsigned units, std::vector<SoakFaultKind> kinds)
    : random_(random), units_(units), kinds_(std::move(kinds)) {
    if (kinds_.empty()) {
        for (std::size_t i = 0; i < kSoakFaultKinds; ++i) kinds_.push_back(static_cast<SoakFaultKind>(i));
    }
}

std::vector<FaultPlanner::ReplySite> FaultPlanner::reply_sites(const Transfer& t) const {
    const unsigned blocks = t.blocks_per_unit();
    const unsigned chunks = t.chunks_per_unit();
    if (t.kind == TransferKind::FirmwareUpdate) {
        return {
            {ReplyKind::PrepareReply, 0x730, 1, 5, "prepare reply"},
            {ReplyKind::SequencedAck, 0x430, blocks, 7, "erase ack"},
            {ReplyKind::FlashReply, 0x430, blocks, 7, "erase reply"},
            {ReplyKind::FlashReply, 0x440, 2, 7, "set-address echo"},  // image, then header
            {ReplyKind::FlashReply, 0x420, chunks, 7, "chunk echo"},
        };
    }
    // Together, each unit's write address is set again at every block.
    return {
        {ReplyKind::PlainAck, 0x450, 2, 4, "database close/open ack"},
        {ReplyKind::SequencedAck, 0x430, blocks, 7, "erase ack"},
        {ReplyKind::FlashReply, 0x430, blocks, 7, "erase reply"},
        {ReplyKind::FlashReply, 0x440, t.together ? blocks : 1, 7, "set-address echo"},
        {ReplyKind::FlashReply, 0x420, chunks, 7, "chunk echo"},
    };
}

std::vector<FaultPlanner::FrameSite> FaultPlanner::frame_sites(const Transfer& t) const {
    const unsigned blocks = t.blocks_per_unit() * units_;
    std::vector<FrameSite> sites;
    if (t.kind == TransferKind::FirmwareUpdate) {
        // Image and header chunks go out once, to every unit (UID 0).
        sites = {{0x730, 1, "prepare"},
                 {0x430, blocks, "erase"},
                 {0x440, 2 * units_, "set address"},
                 {0x420, t.chunks_per_unit(), "write chunk"}};
    } else if (t.together) {
        // Chunks go out once, to every unit, while none has dropped out: a
        // cable pull at write chunk frame n cuts the upload n/chunks of the way.
        sites = {{0x450, 2 * units_, "database close/open"},
                 {0x430, blocks, "erase"},
                 {0x440, t.blocks_per_unit() * units_, "set address"},
                 {0x420, t.chunks_per_unit(), "write chunk"}};
    } else {
        sites = {{0x450, 2 * units_, "database close/open"},
                 {0x430, blocks, "erase"},
                 {0x440, units_, "set address"},
                 {0x420, t.chunks_per_unit() * units_, "write chunk"}};
    }
    unsigned all = 0;
    for (const FrameSite& s : sites) all += s.frames;
    sites.push_back({0, all, "any"});
    return sites;
}

bool FaultPlanner::kind_fits(SoakFaultKind kind, const ReplySite& site) {
    switch (kind) {
    case SoakFaultKind::Nack:
    case SoakFaultKind::BadStatus: return site.reply != ReplyKind::PrepareReply;
    case SoakFaultKind::WrongAddress:
        return site.reply == ReplyKind::FlashReply || site.reply == ReplyKind::PrepareReply;
    case SoakFaultKind::WrongOperation: return site.reply == ReplyKind::FlashReply;
    case SoakFaultKind::WrongSequence: return site.reply == ReplyKind::SequencedAck;
    // The erase command is the one frame a unit answers twice (ack, then reply).
    case SoakFaultKind::Reorder: return site.reply == ReplyKind::SequencedAck && site.command == 0x430;
    default: return true;
    }
}

PlannedFault FaultPlanner::reply_fault(SoakFaultKind kind, const std::vector<ReplySite>& all_sites, bool airport) {
    std::vector<ReplySite> sites;
    for (const ReplySite& s : all_sites) {
        if (kind_fits(kind, s)) sites.push_back(s);
    }
    const ReplySite& site = random_.pick(sites);

    Fault f;
    f.kind = sim_kind(kind);
    f.reply = site.reply;
    f.command = site.command;
    f.uid = random_.percent(25) ? 0 : static_cast<std::uint8_t>(random_.between(1, units_));
    const unsigned matching = site.per_unit * (f.uid == 0 ? units_ : 1);
    f.skip = static_cast<unsigned>(random_.between(0, matching - 1));
    f.times = kind == SoakFaultKind::Reorder || random_.percent(75) ? 1 : static_cast<unsigned>(random_.between(2, 4));
    // A unit that goes silent for good in the middle of an airport upload:
    // the others must carry on without it.
    if (kind == SoakFaultKind::Drop && airport && random_.percent(25)) f.times = 0;
    switch (kind) {
    case SoakFaultKind::Delay: f.value = static_cast<std::uint32_t>(random_.between(20, 900)); break;
    case SoakFaultKind::Corrupt:
        f.value = static_cast<std::uint32_t>(random_.between(0, site.payload_bytes - 1));
        break;
    case SoakFaultKind::BadStatus: f.value = static_cast<std::uint32_t>(random_.between(2, 255)); break;
    case SoakFaultKind::WrongAddress:
        // A prepare reply's only wrong address worth sending is the refusal;
        // an echo gets a plausible address (within the flash) or any word.
        f.value = site.reply == ReplyKind::PrepareReply ? 0xFFFFFFFFu
                  : random_.percent(50)                 ? random_.word() & 0x03FFFFC0u
                                                        : random_.word();
        break;
    case SoakFaultKind::WrongOperation: f.value = random_.byte(); break;
    case SoakFaultKind::WrongUid: f.value = static_cast<std::uint32_t>(random_.between(0, 15)); break;
    case SoakFaultKind::WrongSequence: f.value = random_.word() & 0xFFFFFFu; break;
    default: break;
    }

    PlannedFault planned;
    planned.kind = kind;
    planned.sim_fault = f;
    const std::string times = f.times == 0 ? std::string("from then on") : format("times=%u", f.times);
    planned.text = format("%s %s uid=%u skip=%u %s value=0x%X", fault_kind_name(kind), site.name, unsigned{f.uid},
                          f.skip, times.c_str(), f.value);
    return planned;
}

PlannedFault FaultPlanner::cable_fault(const std::vector<FrameSite>& sites) {
    const FrameSite& site = random_.pick(sites);
    Fault f;
    f.kind = FaultKind::PullCable;
    f.command = site.command;
    f.skip = static_cast<unsigned>(random_.between(0, site.frames - 1));
    f.times = 1;
    f.value = static_cast<std::uint32_t>(random_.between(100, 500));  // replug after
    PlannedFault planned;
    planned.kind = SoakFaultKind::PullCable;
    planned.sim_fault = f;
    planned.text = format("cable pull at %s frame %u, replug after %u ms", site.name, f.skip + 1, f.value);
    return planned;
}

PlannedFault FaultPlanner::reboot_fault(std::chrono::milliseconds expected) {
    RebootPlan reboot;
    reboot.after = std::chrono::milliseconds(random_.between(0, static_cast<std::uint64_t>(expected.count())));
    reboot.duration = std::chrono::milliseconds(random_.between(200, 1000));
    reboot.via_manager = random_.percent(50);
    PlannedFault planned;
    planned.kind = SoakFaultKind::Reboot;
    planned.reboot = reboot;
    planned.text =
        format("reboot %s after %lld ms for %lld ms", reboot.via_manager ? "by the manager" : "on the bus",
               static_cast<long long>(reboot.after.count()), static_cast<long long>(reboot.duration.count()));
    return planned;
}

PlannedFault FaultPlanner::unaligned_fault(const Transfer& transfer) {
    // Block 0x11: behind the default write address 0x00100000, so the block
    // after it (0x12) is one that updates at the default address never erase
    // and the soak's zeros there show any byte written without an erase.
    constexpr std::uint32_t kMovedBlock = 0x00110000;
    AddressPlan plan;
    plan.total_size = transfer.image_offset + static_cast<std::uint32_t>(transfer.body.size());
    std::string text = "unaligned address";
    // At least one unit moves; each of the others does so half of the time.
    const auto first = static_cast<unsigned>(random_.between(1, units_));
    for (unsigned uid = 1; uid <= units_; ++uid) {
        if (uid != first && !random_.percent(50)) continue;
        // The image's last byte within 128 bytes either side of the end of
        // the address's block (where the old count went wrong), or anywhere.
        const std::int64_t near_end =
            std::int64_t{0x10000} - plan.total_size + static_cast<std::int64_t>(random_.between(0, 256)) - 128;
        const std::int64_t inside = near_end >= 1 && near_end <= 0xFFFF && random_.percent(75)
                                        ? near_end
                                        : static_cast<std::int64_t>(random_.between(1, 0xFFFF));
        const auto address = kMovedBlock + static_cast<std::uint32_t>(inside);
        plan.addresses.push_back({static_cast<std::uint8_t>(uid), address});
        text += format(" uid=%u 0x%08X", uid, address);
    }
    text += format(" total_size=0x%X", plan.total_size);
    PlannedFault planned;
    planned.kind = SoakFaultKind::UnalignedAddress;
    planned.addresses = std::move(plan);
    planned.text = text;
    return planned;
}

PlannedFault FaultPlanner::stuck_fault(const Transfer& transfer) {
    // One unit stops advancing after a chunk it echoed properly (so there is
    // an address to repeat) and never moves on in this operation.
    Fault f;
    f.kind = FaultKind::StuckAddress;
    f.reply = ReplyKind::FlashReply;
    f.command = 0x420;
    f.uid = static_cast<std::uint8_t>(random_.between(1, units_));
    f.skip = static_cast<unsigned>(random_.between(1, std::max(1u, transfer.chunks_per_unit() - 1)));
    f.times = 0;
    PlannedFault planned;
    planned.kind = SoakFaultKind::StuckUnit;
    planned.sim_fault = f;
    planned.text = format("stuck unit uid=%u after chunk echo %u", unsigned{f.uid}, f.skip);
    return planned;
}

bool FaultPlanner::drawable(SoakFaultKind kind, const Transfer& transfer, bool rebooting, bool moved) const {
    switch (kind) {
    case SoakFaultKind::Reboot: return !rebooting;
    case SoakFaultKind::UnalignedAddress: return !moved && transfer.kind == TransferKind::FirmwareUpdate;
    default: return true;
    }
}

std::vector<PlannedFault> FaultPlanner::plan(const Transfer& transfer, unsigned count,
                                             std::chrono::milliseconds expected) {
    const std::vector<ReplySite> replies = reply_sites(transfer);
    const std::vector<FrameSite> frames = frame_sites(transfer);
    std::vector<PlannedFault> out;
    bool rebooting = false;
    bool moved = false;
    while (out.size() < count) {
        const SoakFaultKind kind = random_.pick(kinds_);
        if (!drawable(kind, transfer, rebooting, moved)) {
            // Stop when nothing left to draw fits this operation.
            const bool any = std::any_of(kinds_.begin(), kinds_.end(),
                                         [&](SoakFaultKind k) { return drawable(k, transfer, rebooting, moved); });
            if (!any) break;
            continue;
        }
        if (kind == SoakFaultKind::Reboot) {
            // The reboot duration is one setting of the bus: one reboot per
            // operation.
            rebooting = true;
            out.push_back(reboot_fault(expected));
        } else if (kind == SoakFaultKind::UnalignedAddress) {
            moved = true;
            out.push_back(unaligned_fault(transfer));
        } else if (kind == SoakFaultKind::StuckUnit) {
            out.push_back(stuck_fault(transfer));
        } else if (kind == SoakFaultKind::PullCable) {
            out.push_back(cable_fault(frames));
        } else {
            out.push_back(reply_fault(kind, replies, transfer.kind == TransferKind::AirportUpload));
        }
    }
    return out;
}

}  // namespace soak
