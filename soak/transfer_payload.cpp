#include "transfer_payload.h"

#include "bus_frame.h"

namespace soak {

namespace {
constexpr std::size_t kChunk = 64;
constexpr std::size_t kHeaderSize = 64;
constexpr std::uint32_t kFirmwareTotalSize = 0x20000;
constexpr std::uint32_t kBlockSize = 0x10000;

unsigned chunks_of(std::size_t bytes) { return static_cast<unsigned>((bytes + kChunk - 1) / kChunk); }
}  // namespace

const char* transfer_kind_name(TransferKind kind) {
    return kind == TransferKind::FirmwareUpdate ? "firmware update" : "airport upload";
}

unsigned Transfer::chunks_per_unit() const {
    return kind == TransferKind::FirmwareUpdate ? chunks_of(body.size()) + 1 : chunks_of(body.size());
}

unsigned Transfer::blocks_per_unit() const {
    const std::uint64_t covered = kind == TransferKind::FirmwareUpdate ? total_size : body.size();
    return static_cast<unsigned>((covered + kBlockSize - 1) / kBlockSize);
}

std::vector<std::uint8_t> chunk_safe_bytes(SoakRandom& random, std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const bool ends_chunk = (i + 1) % kChunk == 0 || i + 1 == n;
        std::uint8_t b = random.byte();
        if (ends_chunk && b == 0) b = static_cast<std::uint8_t>(random.between(1, 255));
        out[i] = b;
    }
    return out;
}

std::size_t chunk_safe_length(SoakRandom& random, std::size_t lo, std::size_t hi) {
    std::size_t n = static_cast<std::size_t>(random.between(lo, hi));
    // A last chunk of 61-63 bytes travels as 64 with 1-3 zeros of padding,
    // which a unit takes for data.
    if (n % kChunk >= 61) n -= n % kChunk - 60;
    return n;
}

Transfer make_firmware_transfer(SoakRandom& random, const TransferSizes& sizes) {
    Transfer t;
    t.kind = TransferKind::FirmwareUpdate;
    t.total_size = kFirmwareTotalSize;
    t.image_offset = static_cast<std::uint32_t>(random.between(1, 64) * kChunk);
    t.body = chunk_safe_bytes(random, chunk_safe_length(random, sizes.firmware_min, sizes.firmware_max));
    t.header = chunk_safe_bytes(random, kHeaderSize);
    vk61::put_u32(t.header.data() + 8, t.total_size);
    vk61::put_u32(t.header.data() + 16, static_cast<std::uint32_t>(t.body.size()));
    vk61::put_u32(t.header.data() + 44, t.image_offset);
    t.file = t.header;
    t.file.insert(t.file.end(), t.body.begin(), t.body.end());
    return t;
}

void set_total_size(Transfer& t, std::uint32_t total_size) {
    t.total_size = total_size;
    vk61::put_u32(t.header.data() + 8, total_size);
    vk61::put_u32(t.file.data() + 8, total_size);
}

Transfer make_airport_transfer(SoakRandom& random, const TransferSizes& sizes) {
    Transfer t;
    t.kind = TransferKind::AirportUpload;
    t.body = chunk_safe_bytes(random, chunk_safe_length(random, sizes.airport_min, sizes.airport_max));
    t.file = t.body;
    return t;
}

}  // namespace soak
