#include "trace/pcap_trace.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>

namespace vk61 {

namespace {

// Linux cooked capture (SLL) header, multi-byte fields big-endian.
constexpr std::size_t kSllHeaderSize = 16;
constexpr std::uint16_t kPacketToHost = 0;    // PACKET_HOST
constexpr std::uint16_t kPacketOutgoing = 4;  // PACKET_OUTGOING
constexpr std::uint16_t kArphrdCan = 280;     // ARPHRD_CAN
constexpr std::uint16_t kEthPCanFd = 0x000D;  // ETH_P_CANFD

// SocketCAN struct canfd_frame: can_id (host byte order in cooked captures,
// which readers swap by the file's byte order), len, flags, two reserved
// bytes, 64 data bytes.
constexpr std::size_t kCanFdFrameSize = 72;
constexpr std::uint8_t kCanFdFdf = 0x04;  // CANFD_FDF: a CAN FD frame
constexpr std::size_t kRecordSize = kSllHeaderSize + kCanFdFrameSize;
constexpr int kSnapLength = 65535;
constexpr auto kFlushInterval = std::chrono::milliseconds(100);

void put_be16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
std::uint16_t get_be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

std::string describe(const TraceResult& result) {
    switch (result.failure) {
    case TraceFailure::None: return "trace " + result.path;
    case TraceFailure::NoCapture: return "Could not start a trace";
    case TraceFailure::CannotWrite: return "Could not write " + result.path + ": " + result.detail;
    case TraceFailure::CannotOpen:
    case TraceFailure::ReadFailed: return result.detail;
    case TraceFailure::NotCookedCapture: return "not a Linux cooked capture";
    case TraceFailure::NotCanFd: return "not a CAN FD record";
    case TraceFailure::UnknownDirection: return "a record of unknown direction";
    }
    return result.detail;
}

TraceOpened PcapTrace::create(const std::string& path) {
    TraceOpened opened;
    opened.path = path;
    pcap_t* handle = pcap_open_dead(DLT_LINUX_SLL, kSnapLength);
    if (handle == nullptr) {
        opened.failure = TraceFailure::NoCapture;
        return opened;
    }
    pcap_dumper_t* dumper = pcap_dump_open(handle, path.c_str());
    if (dumper == nullptr) {
        opened.failure = TraceFailure::CannotWrite;
        opened.detail = pcap_geterr(handle);
        pcap_close(handle);
        return opened;
    }
    opened.trace.reset(new PcapTrace(handle, dumper));
    return opened;
}

PcapTrace::~PcapTrace() {
    pcap_dump_close(dumper_);
    pcap_close(handle_);
}

void PcapTrace::record(const BusFrame& frame, FrameDirection direction, std::chrono::system_clock::time_point at) {
    std::uint8_t record[kRecordSize] = {};
    put_be16(record, direction == FrameDirection::Sent ? kPacketOutgoing : kPacketToHost);
    put_be16(record + 2, kArphrdCan);
    put_be16(record + 4, 0);  // no link-layer address
    put_be16(record + 14, kEthPCanFd);
    std::uint8_t* can = record + kSllHeaderSize;
    const std::uint32_t can_id = frame.identifier() & 0x7FFu;  // standard 11-bit identifier
    std::memcpy(can, &can_id, sizeof can_id);
    const std::size_t length = frame.payload_size();
    can[4] = static_cast<std::uint8_t>(length);
    can[5] = kCanFdFdf;
    std::memcpy(can + 8, frame.data(), length);

    const auto since_epoch = std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(since_epoch / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(since_epoch % 1000000);
    header.caplen = header.len = static_cast<bpf_u_int32>(kRecordSize);
    std::lock_guard lock(mutex_);
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, record);
    ++frames_;
    // A program that is killed keeps all but the last moments of its trace.
    const auto now = std::chrono::steady_clock::now();
    if (now - last_flush_ >= kFlushInterval) {
        pcap_dump_flush(dumper_);
        last_flush_ = now;
    }
}

bool PcapTrace::flush() {
    std::lock_guard lock(mutex_);
    return pcap_dump_flush(dumper_) == 0;
}

std::size_t PcapTrace::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

TraceRead read_pcap_trace(const std::string& path) {
    TraceRead read;
    read.path = path;
    char message[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_open_offline(path.c_str(), message);
    if (handle == nullptr) {
        read.failure = TraceFailure::CannotOpen;
        read.detail = message;
        return read;
    }
    const auto fail = [&](TraceFailure failure, const std::string& detail = {}) {
        read.failure = failure;
        read.detail = detail;
        read.records.clear();
        pcap_close(handle);
        return std::move(read);
    };
    if (pcap_datalink(handle) != DLT_LINUX_SLL) return fail(TraceFailure::NotCookedCapture);
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    int status = 0;
    while ((status = pcap_next_ex(handle, &header, &bytes)) == 1) {
        if (header->caplen < kRecordSize || get_be16(bytes + 14) != kEthPCanFd) return fail(TraceFailure::NotCanFd);
        const std::uint16_t type = get_be16(bytes);
        if (type != kPacketToHost && type != kPacketOutgoing) return fail(TraceFailure::UnknownDirection);
        const std::uint8_t* can = bytes + kSllHeaderSize;
        TraceRecord record;
        record.direction = type == kPacketOutgoing ? FrameDirection::Sent : FrameDirection::Received;
        std::memcpy(&record.identifier, can, sizeof record.identifier);
        const std::size_t length = std::min<std::size_t>(can[4], BusFrame::kMaxData);
        record.data.assign(can + 8, can + 8 + length);
        record.at = std::chrono::system_clock::time_point(std::chrono::seconds(header->ts.tv_sec) +
                                                          std::chrono::microseconds(header->ts.tv_usec));
        read.records.push_back(std::move(record));
    }
    if (status == PCAP_ERROR) return fail(TraceFailure::ReadFailed, pcap_geterr(handle));
    pcap_close(handle);
    return read;
}

}  // namespace vk61
