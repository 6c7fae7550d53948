// The parts of the soak whose mistakes would hide engine faults or invent
// them: data the units must read back exactly, and the reading of how an
// operation ended.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bus_frame.h"
#include "chunk_length.h"
#include "outcome.h"
#include "transfer_payload.h"

namespace soak {
namespace {

// Every chunk of the soak's data, sent the way the engine sends it (the data,
// zero-padded to the DLC size), is taken at its real length by the unit's
// chunk-length rule, for every length the soak may draw.
TEST(ChunkSafeData, unitsReadEveryChunkAtItsLength) {
    SoakRandom random(7);
    for (std::size_t wanted = 1; wanted <= 700; ++wanted) {
        const std::size_t n = chunk_safe_length(random, wanted, wanted);
        const std::vector<std::uint8_t> data = chunk_safe_bytes(random, n);
        for (std::size_t offset = 0; offset < n; offset += 64) {
            const auto len = static_cast<std::uint32_t>(std::min<std::size_t>(64, n - offset));
            const vk61::BusFrame frame = vk61::make_frame(0, 0x421, vk61::bytes_to_dlc(len), data.data() + offset, len);
            ASSERT_EQ(sim::chunk_length(frame), len) << "length " << n << ", chunk at " << offset;
        }
    }
}

TEST(ChunkSafeData, firmwareHeaderCarriesItsFields) {
    SoakRandom random(3);
    const Transfer t = make_firmware_transfer(random, TransferSizes{});
    ASSERT_EQ(t.header.size(), 64u);
    EXPECT_EQ(vk61::get_u32(t.header.data() + 8), 0x20000u);
    EXPECT_EQ(vk61::get_u32(t.header.data() + 16), t.body.size());
    EXPECT_EQ(vk61::get_u32(t.header.data() + 44), t.image_offset);
    EXPECT_EQ(t.image_offset % 64, 0u);
    EXPECT_GE(t.image_offset, 64u);
    EXPECT_EQ(t.file.size(), 64 + t.body.size());
}

struct OutcomeCase {
    const char* name;
    TransferKind kind;
    std::vector<std::string> lines;
    std::string terminal;
    std::string cause;
    std::vector<unsigned> completed = {};
    std::vector<unsigned> dropped = {};
    bool stopped_all = false;
};

class OutcomeReading : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(OutcomeReading, findsTheFailureLineAndItsFirstCause) {
    const OutcomeCase& c = GetParam();
    const Outcome o = classify_outcome(c.kind, false, c.lines);
    EXPECT_EQ(o.terminal_line, c.terminal);
    EXPECT_EQ(o.cause_line, c.cause);
    EXPECT_EQ(o.completed, c.completed);
    EXPECT_EQ(o.dropped, c.dropped);
    EXPECT_EQ(o.stopped_all, c.stopped_all);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, OutcomeReading,
    ::testing::Values(
        OutcomeCase{"erase_time_out",
                    TransferKind::FirmwareUpdate,
                    {"fw_erase: UID 1 erasing block 16 (addr 0x00100000) seq=77\n",
                     "fw_erase: failed (complete=0 failed=0)\n", "erase_fw_update_blocks: failed\n"},
                    "erase_fw_update_blocks: failed",
                    "fw_erase: failed (complete=0 failed=0)"},
        // "prepare_fw_update: failed" is the worker's own ending, not a cause.
        OutcomeCase{"prepare_refused",
                    TransferKind::FirmwareUpdate,
                    {"prepare_fw_update: UID 2 reported failure (address -1)\n",
                     "prepare_fw_update: failed pending_mask=0x04 failed=1\n", "prepare_fw_update: failed\n"},
                    "prepare_fw_update: failed",
                    "prepare_fw_update: UID # reported failure (address -#)"},
        // The last unit's ending is the run's; the receive thread's lines in
        // between are neither.
        OutcomeCase{"second_unit_of_an_upload",
                    TransferKind::AirportUpload,
                    {"upload_airport_db: complete on UID 1\n", "ZEQBUS: occupied=0x0000000E alive=0x0000000E\n",
                     "fw_write: UID 2 write address mismatch (expected 0x00000080 got 0x00000040)\n",
                     "extflash_raw: chunk failed at offset 64 (complete=1 failed=1)\n",
                     "upload_airport_db: write failed on UID 2\n"},
                    "upload_airport_db: write failed on UID #",
                    "fw_write: UID # write address mismatch (expected 0x# got 0x#)",
                    {1}},
        // An upload to every unit at once: a unit drops out, the others go
        // on; the run's ending is the last unit's, and the cause the first.
        OutcomeCase{"together_one_drops_out",
                    TransferKind::AirportUpload,
                    {"airport_upload: 70000 bytes to 3 unit(s) at once\n", "fw_write: extflash NACK UID 2 op 0x01\n",
                     "airport_upload: UID 2 drops out (write failed on UID 2: refused by the unit)\n",
                     "airport_upload: opening airport DB on UID 1\n", "airport_upload: complete on UID 1\n",
                     "airport_upload: opening airport DB on UID 3\n", "airport_upload: complete on UID 3\n"},
                    "airport_upload: complete on UID #",
                    "fw_write: extflash NACK UID # op 0x#",
                    {1, 3},
                    {2},
                    false},
        OutcomeCase{"together_link_lost",
                    TransferKind::AirportUpload,
                    {"airport_upload: UID 3 drops out (erase failed on UID 3: timed out)\n",
                     "airport_upload: stopped for every unit (write failed: link lost)\n"},
                    "airport_upload: stopped for every unit (write failed: link lost)",
                    "",
                    {},
                    {3},
                    true},
        OutcomeCase{"no_ending_at_all",
                    TransferKind::AirportUpload,
                    {"upload_airport_db: closing airport DB on UID 1\n"},
                    "",
                    ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace soak
