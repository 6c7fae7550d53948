#include "fault_table.h"

#include <algorithm>

namespace sim {

namespace {

// Offsets of the fields a fault may rewrite, per reply kind (-1: none).
struct Layout {
    int uid = -1;
    int status = -1;
    int address = -1;
    int sequence = -1;
    int index = -1;
    int operation = -1;
};

Layout layout_of(ReplyKind kind) {
    switch (kind) {
    case ReplyKind::WhoAmI: return {.uid = 8};
    case ReplyKind::ClientInfo: return {.uid = 0};
    case ReplyKind::SettingReply: return {.uid = 0, .index = 1};
    case ReplyKind::SequencedAck: return {.uid = 0, .status = 3, .sequence = 4};
    case ReplyKind::PlainAck: return {.uid = 0, .status = 3};
    case ReplyKind::FlashReply: return {.uid = 0, .status = 6, .address = 2, .operation = 1};
    case ReplyKind::PrepareReply: return {.uid = 0, .address = 1};
    case ReplyKind::Occupancy:
    case ReplyKind::Any: break;
    }
    return {};
}

bool applicable(const Fault& fault, const Reply& reply) {
    const Layout l = layout_of(reply.kind);
    switch (fault.kind) {
    case FaultKind::Nack:
    case FaultKind::BadStatus: return l.status >= 0;
    case FaultKind::WrongIndex: return l.index >= 0;
    case FaultKind::WrongUid: return l.uid >= 0;
    case FaultKind::WrongSequence: return l.sequence >= 0;
    case FaultKind::WrongAddress:
    case FaultKind::StuckAddress: return l.address >= 0;
    case FaultKind::WrongOperation: return l.operation >= 0;
    case FaultKind::Corrupt: return fault.value < reply.frame.payload_size();
    case FaultKind::PullCable:
    case FaultKind::LoseHostFrame: return false;
    case FaultKind::Drop:
    case FaultKind::Delay:
    case FaultKind::Duplicate:
    case FaultKind::ShortPayload:
    case FaultKind::Reorder: return true;
    }
    return false;
}

bool matches(const Fault& fault, const Reply& reply) {
    if (fault.reply != ReplyKind::Any && fault.reply != reply.kind) return false;
    if (fault.command != 0 && (fault.command & 0x7F0u) != reply.command) return false;
    if (fault.uid != 0 && fault.uid != reply.uid) return false;
    if (fault.index >= 0 && fault.index != reply.index) return false;
    return applicable(fault, reply);
}

struct Work {
    Reply reply;
    bool dropped = false;
    bool duplicate = false;
    bool reorder = false;
    std::chrono::milliseconds delay{0};
};

void act(const Fault& fault, Work& w) {
    const Layout l = layout_of(w.reply.kind);
    std::uint8_t* d = w.reply.frame.data();
    const auto byte = static_cast<std::uint8_t>(fault.value);
    switch (fault.kind) {
    case FaultKind::Drop: w.dropped = true; break;
    case FaultKind::Delay: w.delay += std::chrono::milliseconds(fault.value); break;
    case FaultKind::Duplicate: w.duplicate = true; break;
    case FaultKind::Corrupt: d[fault.value] ^= 0xFF; break;
    case FaultKind::Nack: d[l.status] = 0; break;
    case FaultKind::BadStatus: d[l.status] = byte; break;
    case FaultKind::WrongIndex: d[l.index] = byte; break;
    case FaultKind::WrongUid: {
        d[l.uid] = byte;
        auto& f = w.reply.frame;
        f.set_identifier((f.identifier() & ~0x00Fu) | (fault.value & 0x00Fu));
        break;
    }
    case FaultKind::WrongSequence: vk61::put_u24(d + l.sequence, fault.value & 0xFFFFFFu); break;
    case FaultKind::ShortPayload: w.reply.frame.set_dlc(byte); break;
    case FaultKind::WrongAddress: vk61::put_u32(d + l.address, fault.value); break;
    case FaultKind::WrongOperation: d[l.operation] = byte; break;
    case FaultKind::Reorder: w.reorder = true; break;
    case FaultKind::PullCable:
    case FaultKind::LoseHostFrame:
    case FaultKind::StuckAddress: break;  // needs the entry's state: FaultTable::hold_address
    }
}

// The setting a host frame reads or writes, or -1.
int setting_index_of(const vk61::BusFrame& frame) {
    if (frame.base() == 0x370 && frame.payload_size() >= 2) return frame.data()[1];
    if (frame.base() == 0x390 && frame.payload_size() >= 1) return frame.data()[0];
    return -1;
}

}  // namespace

void FaultTable::add(const Fault& fault) { entries_.push_back(Entry{fault, 0, 0, std::nullopt}); }

void FaultTable::clear() { entries_.clear(); }

std::size_t FaultTable::armed() const {
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.spent(); }));
}

bool FaultTable::take(Entry& entry) {
    ++entry.seen;
    if (entry.seen <= entry.fault.skip) return false;
    ++entry.fired;
    return true;
}

void FaultTable::hold_address(Entry& entry, Reply& reply, bool acts) {
    std::uint8_t* address = reply.frame.data() + layout_of(reply.kind).address;
    if (acts && entry.held_address) {
        vk61::put_u32(address, *entry.held_address);
    } else {
        entry.held_address = vk61::get_u32(address);
    }
}

std::vector<Outgoing> FaultTable::apply(std::vector<Reply> replies) {
    std::vector<Work> work;
    work.reserve(replies.size());
    for (auto& r : replies) {
        Work w{std::move(r)};
        for (auto& e : entries_) {
            if (w.dropped) break;
            if (e.spent() || e.fault.kind == FaultKind::PullCable || e.fault.kind == FaultKind::LoseHostFrame) continue;
            if (!matches(e.fault, w.reply)) continue;
            const bool acts = take(e);
            if (e.fault.kind == FaultKind::StuckAddress) {
                hold_address(e, w.reply, acts);
            } else if (acts) {
                act(e.fault, w);
            }
        }
        work.push_back(std::move(w));
    }
    // A reordered reply trades places with the next reply of the same unit.
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].reorder) continue;
        work[i].reorder = false;
        for (std::size_t j = i + 1; j < work.size(); ++j) {
            if (work[j].reply.uid == work[i].reply.uid) {
                std::rotate(work.begin() + static_cast<std::ptrdiff_t>(i),
                            work.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                            work.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                --i;  // the element now at i has not been looked at
                break;
            }
        }
    }
    std::vector<Outgoing> out;
    for (const auto& w : work) {
        if (w.dropped) continue;
        out.push_back(Outgoing{w.reply.frame, w.reply.kind, w.delay, w.reply.command, w.reply.uid});
        if (w.duplicate) out.push_back(Outgoing{w.reply.frame, w.reply.kind, w.delay, w.reply.command, w.reply.uid});
    }
    return out;
}

std::optional<Fault> FaultTable::on_host_frame(const vk61::BusFrame& frame) {
    for (auto& e : entries_) {
        if (e.spent() || e.fault.kind != FaultKind::PullCable) continue;
        if (e.fault.command != 0 && (e.fault.command & 0x7F0u) != frame.base()) continue;
        if (take(e)) return e.fault;
    }
    return std::nullopt;
}

std::uint32_t FaultTable::lost_host_frame(const vk61::BusFrame& frame) {
    std::uint32_t lost = 0;
    for (auto& e : entries_) {
        if (e.spent() || e.fault.kind != FaultKind::LoseHostFrame) continue;
        if (e.fault.command != 0 && (e.fault.command & 0x7F0u) != frame.base()) continue;
        if (e.fault.index >= 0 && e.fault.index != setting_index_of(frame)) continue;
        if (take(e)) lost |= e.fault.uid == 0 ? kAllUnits : 1u << (e.fault.uid & 0x1Fu);
    }
    return lost;
}

}  // namespace sim
