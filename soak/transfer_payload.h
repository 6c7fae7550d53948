// The files a soak operation hands to the workers: a firmware file (header
// and body) or an airport database, with random content that the simulated
// units read back exactly.
//
// A write chunk frame carries a DLC code, not a length, so a unit has to guess
// how much of a padded frame is data (sim/chunk_length.h). It guesses wrong
// for a last chunk of 61-63 bytes, for a short last chunk whose data ends in a
// zero byte and for a full chunk that ends in four or more zeros; the engine's
// echo check then fails the transfer, which would be the frame format's fault
// and not the engine's. The bytes made here therefore end every 64-byte chunk
// (and the last, shorter one) with a non-zero byte, and no length leaves a
// last chunk of 61-63 bytes. Zero bytes do occur everywhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "soak_random.h"

namespace soak {

enum class TransferKind { FirmwareUpdate, AirportUpload };

const char* transfer_kind_name(TransferKind kind);

// Size ranges in bytes: firmware image body, airport database.
struct TransferSizes {
    std::size_t firmware_min = 4 * 1024;
    std::size_t firmware_max = 16 * 1024;
    std::size_t airport_min = 8 * 1024;
    std::size_t airport_max = 72 * 1024;  // a few uploads take a second erase block
};

struct Transfer {
    TransferKind kind = TransferKind::FirmwareUpdate;
    std::vector<std::uint8_t> file;    // what goes to disk
    std::vector<std::uint8_t> header;  // firmware: the 64-byte header
    std::vector<std::uint8_t> body;    // firmware: the image body; airport: the database
    std::uint32_t total_size = 0;      // firmware: bytes erased from the write address
    std::uint32_t image_offset = 0;    // firmware: body position behind the write address
    // Airport: every unit at once (each chunk broadcast, the write addresses
    // set block by block) rather than one unit after another.
    bool together = false;

    // Write chunks each unit echoes (firmware: body chunks and the header).
    unsigned chunks_per_unit() const;
    // Erase blocks per unit.
    unsigned blocks_per_unit() const;
};

// Random bytes in which every 64-byte chunk, and the last one, ends non-zero.
std::vector<std::uint8_t> chunk_safe_bytes(SoakRandom& random, std::size_t n);
// A length in [lo, hi] whose last chunk is not 61-63 bytes long.
std::size_t chunk_safe_length(SoakRandom& random, std::size_t lo, std::size_t hi);

// total_size 0x20000 (two blocks), image offset a random multiple of 64 from
// 64 to 4096, body from the size range; the header fields at 8, 16 and 44 and
// every other header byte random (so each operation's header is its own).
Transfer make_firmware_transfer(SoakRandom& random, const TransferSizes& sizes);
// Puts another total_size into a firmware transfer's header (and file).
void set_total_size(Transfer& transfer, std::uint32_t total_size);
Transfer make_airport_transfer(SoakRandom& random, const TransferSizes& sizes);

}  // namespace soak
