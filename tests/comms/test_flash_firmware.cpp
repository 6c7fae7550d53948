// The firmware worker end to end: file, prepare, erase, image, header last.
#include "flash/firmware_header.h"
#include "transfer/firmware_worker.h"
#include "test_flash_support.h"

namespace flashtest {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;
using vk61::FailureReason;
using vk61::OperationResult;
using vk61::OperationStep;

OperationResult fail(OperationStep step, FailureReason why, std::uint8_t uid = 0) {
    return OperationResult::failure(step, why, uid);
}

constexpr std::uint32_t kWriteAddress = 0x00100000;  // what the default units answer

// A firmware file: 64-byte header (fields at 8, 16 and 44, every other byte
// non-zero and carried along), then the body.
std::vector<std::uint8_t> firmware_file(std::uint32_t total_size, std::uint32_t encrypted_size,
                                        std::uint32_t image_offset, std::size_t body_size) {
    std::vector<std::uint8_t> file = pattern(vk61::FirmwareHeader::kSize, 7);
    vk61::put_u32(file.data() + 8, total_size);
    vk61::put_u32(file.data() + 16, encrypted_size);
    vk61::put_u32(file.data() + 44, image_offset);
    const std::vector<std::uint8_t> body = pattern(body_size, 9);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

class FirmwareUpdateTest : public FlashTest {
protected:
    // Runs the worker on this thread and returns its result, which must agree
    // with whether it called on_success.
    OperationResult run(const std::vector<std::uint8_t>& file_bytes) {
        return run_path(dir.write("fw.bin", file_bytes));
    }
    OperationResult run_path(const std::string& path) {
        bool succeeded = false;
        const OperationResult result = vk61::run_firmware_update(
            *comms, path, progress.callback(), [&] { succeeded = true; },
            vk61::FirmwareUpdateTimeouts{2000, 5000, 2000});
        EXPECT_EQ(succeeded, result.ok()) << describe(result);
        return result;
    }
    bool nothing_written() const { return sent(0x440).empty() && sent(0x420).empty(); }

    TempDir dir;
};

struct ImageCase {
    const char* name;
    std::size_t body;
    std::vector<unsigned> image_dlcs;
};

class FirmwareImage : public FirmwareUpdateTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(FirmwareImage, everyUnitHoldsTheFileWithTheHeaderWrittenLast) {
    const ImageCase& c = GetParam();
    connect_units(3);
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        // An old image that the erase must clear (else the NOR model records unerased writes).
        ASSERT_TRUE(bus.preload_flash(uid, kWriteAddress, std::vector<std::uint8_t>(0x30000, 0x00)));
    }
    const std::vector<std::uint8_t> file = firmware_file(0x30000, static_cast<std::uint32_t>(c.body), 0x100, c.body);
    const std::vector<std::uint8_t> header(file.begin(), file.begin() + 64);
    const std::vector<std::uint8_t> body(file.begin() + 64, file.end());

    ASSERT_TRUE(run(file));

    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        SCOPED_TRACE("UID " + std::to_string(uid));
        EXPECT_EQ(erased_blocks(uid), (std::vector<unsigned>{0x10, 0x11, 0x12}));
        EXPECT_EQ(flash(uid, kWriteAddress, 64), header);
        EXPECT_EQ(flash(uid, kWriteAddress + 0x100, body.size()), body);
        EXPECT_EQ(flash(uid, kWriteAddress + 64, 0x100 - 64), std::vector<std::uint8_t>(0x100 - 64, 0xFF));
        EXPECT_EQ(unerased_writes(uid), 0u);
        // Image address first, header address last.
        const auto set_addresses = sent(0x440, uid);
        ASSERT_EQ(set_addresses.size(), 2u);
        EXPECT_EQ(vk61::get_u32(set_addresses[0].data()), kWriteAddress + 0x100);
        EXPECT_EQ(vk61::get_u32(set_addresses[1].data()), kWriteAddress);
    }
    // Chunks go out once, to every unit; the header is the last one.
    const auto chunks = sent(0x420, 0);
    ASSERT_EQ(chunks.size(), c.image_dlcs.size() + 1);
    for (std::size_t i = 0; i < c.image_dlcs.size(); ++i) EXPECT_EQ(chunks[i].dlc(), c.image_dlcs[i]);
    EXPECT_EQ(std::vector<std::uint8_t>(chunks.back().data(), chunks.back().data() + 64), header);
    EXPECT_TRUE(log.contains("fw_write: progress " + std::to_string(c.body) + "/" + std::to_string(c.body) +
                             " bytes (100.0%)\n"));
    EXPECT_TRUE(log.contains("firmware update: prepare, erase, image, and header write complete"));
    EXPECT_EQ(progress.phase(1).back(), ProgressLog::Call(c.body, c.body, 1));
}

INSTANTIATE_TEST_SUITE_P(Bodies, FirmwareImage,
                         ::testing::Values(ImageCase{"hundred_bytes_as_64_and_36", 100, {15, 14}},
                                           // 31 full chunks, then 16 bytes (DLC 10).
                                           ImageCase{"two_thousand_bytes", 2000,
                                                     [] {
                                                         std::vector<unsigned> d(31, 15);
                                                         d.push_back(10);
                                                         return d;
                                                     }()}),
                         [](const auto& info) { return std::string(info.param.name); });

// Units that name a write address inside an erase block. UID 1 is aligned;
// UID 2's image (offset 0x40) ends near the end of block 0x20, and UID 3's
// header sits in the last 64 bytes of block 0x30 with the whole image in the
// next block. Every unit's flash around its space starts programmed (0x00),
// so a byte written without its block erased first shows.
struct UnalignedCase {
    const char* name;
    std::uint32_t body;                 // total_size is exactly 0x40 + body
    std::vector<unsigned> uid2_blocks;  // what UID 2 must erase
};

void PrintTo(const UnalignedCase& c, std::ostream* os) { *os << c.name; }

class FirmwareUnaligned : public FirmwareUpdateTest, public ::testing::WithParamInterface<UnalignedCase> {};

TEST_P(FirmwareUnaligned, everyByteWrittenWasErasedAndLandsInPlace) {
    const UnalignedCase& c = GetParam();
    constexpr std::uint32_t kOffset = 0x40;
    const std::uint32_t addresses[] = {0x00100000, 0x0020FF30, 0x0030FFC0};
    const std::vector<std::vector<unsigned>> blocks = {{0x10}, c.uid2_blocks, {0x30, 0x31}};
    connect_units(3);
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        ASSERT_TRUE(bus.set_firmware_address(uid, addresses[uid - 1]));
        const std::uint32_t first = (addresses[uid - 1] & 0xFFFF0000u) - 0x10000;
        ASSERT_TRUE(bus.preload_flash(uid, first, std::vector<std::uint8_t>(4 * 0x10000, 0x00)));
    }
    const std::vector<std::uint8_t> file = firmware_file(kOffset + c.body, c.body, kOffset, c.body);
    const std::vector<std::uint8_t> header(file.begin(), file.begin() + 64);
    const std::vector<std::uint8_t> body(file.begin() + 64, file.end());

    ASSERT_TRUE(run(file));

    std::uint64_t total_blocks = 0;
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        SCOPED_TRACE("UID " + std::to_string(uid));
        const std::uint32_t address = addresses[uid - 1];
        EXPECT_EQ(erased_blocks(uid), blocks[uid - 1]);
        total_blocks += blocks[uid - 1].size();
        EXPECT_EQ(unerased_writes(uid), 0u);
        EXPECT_EQ(flash(uid, address, 64), header);
        EXPECT_EQ(flash(uid, address + kOffset, body.size()), body);
        // Erased and untouched: the rest of the erased run. Still programmed:
        // the block behind the run, which nothing asked to erase.
        const std::uint32_t end = address + kOffset + c.body;
        const std::uint32_t run_end = (blocks[uid - 1].back() + 1u) << 16;
        EXPECT_EQ(flash(uid, end, run_end - end), std::vector<std::uint8_t>(run_end - end, 0xFF));
        EXPECT_EQ(flash(uid, run_end, 16), std::vector<std::uint8_t>(16, 0x00));
        EXPECT_TRUE(log.contains("fw_erase: UID " + std::to_string(uid) + " will erase " +
                                 std::to_string(blocks[uid - 1].size()) + " block(s) starting at block " +
                                 std::to_string(blocks[uid - 1].front()) + "\n"));
    }
    EXPECT_EQ(progress.phase(0).back(), ProgressLog::Call(total_blocks, total_blocks, 0));
}

INSTANTIATE_TEST_SUITE_P(ImageEnds, FirmwareUnaligned,
                         // UID 2's image starts at 0x0020FF70, 0x90 bytes before block 0x21.
                         ::testing::Values(UnalignedCase{"just_inside_a_block", 0x8F, {0x20}},
                                           UnalignedCase{"exactly_at_the_block_end", 0x90, {0x20}},
                                           UnalignedCase{"one_byte_into_the_next_block", 0x91, {0x20, 0x21}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareUpdateTest, targetsAreHandedOnInUidOrder) {
    sim::add_default_units(bus, 3);
    bus.remove_unit(1);
    connect_units(0);
    // UID 3 answers the prepare command first.
    bus.add_fault(Fault{FaultKind::Delay, ReplyKind::PrepareReply, 0, 2, 0, 1, 50});
    ASSERT_TRUE(run(firmware_file(0x10000, 100, 0x100, 100)));
    EXPECT_LT(line_index(log, "prepare_fw_update: UID 3 write address"),
              line_index(log, "prepare_fw_update: UID 2 write address"));
    EXPECT_LT(line_index(log, "  UID 2 -> 0x00100000"), line_index(log, "  UID 3 -> 0x00100000"));
    EXPECT_LT(line_index(log, "fw_erase: UID 2 will erase"), line_index(log, "fw_erase: UID 3 will erase"));
    EXPECT_LT(line_index(log, "fw_write: UID 2 image start address"),
              line_index(log, "fw_write: UID 3 image start address"));
}

struct EarlyStopCase {
    const char* name;
    std::vector<std::uint8_t> file;
    std::vector<std::string> lines;
    bool erases;       // whether the units' space was erased before the stop
    bool reaches_bus;  // whether any frame went out (false: refused from the file alone)
    OperationResult result;
};

class FirmwareEarlyStop : public FirmwareUpdateTest, public ::testing::WithParamInterface<EarlyStopCase> {};

TEST_P(FirmwareEarlyStop, stopsAtItsStepWithItsLine) {
    const EarlyStopCase& c = GetParam();
    connect_units(3);
    EXPECT_EQ(run(c.file), c.result);
    for (const std::string& line : c.lines) EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_EQ(!sent(0x430).empty(), c.erases);
    EXPECT_EQ(!bus.host_frames().empty(), c.reaches_bus);
    EXPECT_TRUE(nothing_written());
}

INSTANTIATE_TEST_SUITE_P(
    Files, FirmwareEarlyStop,
    ::testing::Values(
        // Without a body the units' space is still erased first, and the
        // update stops only then, whatever the image offset says.
        EarlyStopCase{"header_only_file",
                      firmware_file(0x20000, 0, 0x100, 0),
                      {"firmware update: encrypted_size is zero\n"},
                      true,
                      true,
                      fail(OperationStep::CheckFile, FailureReason::EmptyImage)},
        EarlyStopCase{"header_only_file_with_offset_over_header",
                      firmware_file(0x20000, 0, 0x20, 0),
                      {"firmware update: encrypted_size is zero\n"},
                      true,
                      true,
                      fail(OperationStep::CheckFile, FailureReason::EmptyImage)},
        EarlyStopCase{"nothing_to_erase",
                      firmware_file(0, 0, 0x100, 0),
                      {"erase_fw_update_blocks: failed\n"},
                      false,
                      true,
                      fail(OperationStep::Erase, FailureReason::InvalidRequest)},
        // A file that cannot be written whole is refused before any unit is
        // asked for anything, with the line of the check it fails.
        EarlyStopCase{"body_shorter_than_header_says",
                      firmware_file(0x10000, 100, 0x100, 50),
                      {"firmware update: failed to read encrypted image (50/100 bytes)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::FileIncomplete)},
        EarlyStopCase{"body_one_byte_short",
                      firmware_file(0x10000, 100, 0x100, 99),
                      {"firmware update: failed to read encrypted image (99/100 bytes)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::FileIncomplete)},
        // A damaged header asking for 4 GiB ends with the short read, not an allocation.
        EarlyStopCase{"hostile_encrypted_size",
                      firmware_file(0x10000, 0xFFFFFFFF, 0x100, 10),
                      {"firmware update: failed to read encrypted image (10/4294967295 bytes)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::FileIncomplete)},
        EarlyStopCase{"image_past_erased_space",
                      firmware_file(0x10000, 0x10000, 0x100, 0x10000),
                      {"firmware update: image does not fit the erased space (offset 0x00000100 + 65536 bytes, "
                       "total_size 65536)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::ImageOutsideErase)},
        EarlyStopCase{"image_one_byte_past_erased_space",
                      firmware_file(0x10000, 0xFF01, 0x100, 0xFF01),
                      {"firmware update: image does not fit the erased space (offset 0x00000100 + 65281 bytes, "
                       "total_size 65536)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::ImageOutsideErase)},
        EarlyStopCase{"image_over_the_header",
                      firmware_file(0x10000, 100, 0x20, 100),
                      {"firmware update: image does not fit the erased space (offset 0x00000020 + 100 bytes, "
                       "total_size 65536)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::ImageOutsideErase)},
        EarlyStopCase{"image_on_the_last_header_byte",
                      firmware_file(0x10000, 100, 0x3F, 100),
                      {"firmware update: image does not fit the erased space (offset 0x0000003F + 100 bytes, "
                       "total_size 65536)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::ImageOutsideErase)},
        // An offset that wraps 32 bits must not pass for a small one.
        EarlyStopCase{"offset_wrapping_32_bits",
                      firmware_file(0x10000, 100, 0xFFFFFFF0, 100),
                      {"firmware update: image does not fit the erased space (offset 0xFFFFFFF0 + 100 bytes, "
                       "total_size 65536)\n"},
                      false,
                      false,
                      fail(OperationStep::CheckFile, FailureReason::ImageOutsideErase)},
        EarlyStopCase{"file_shorter_than_header",
                      std::vector<std::uint8_t>(63, 1),
                      {"firmware update: failed to read firmware header\n"},
                      false,
                      false,
                      fail(OperationStep::ReadFile, FailureReason::FileUnreadable)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareUpdateTest, missingFileTouchesNoUnit) {
    connect_units(1);
    EXPECT_EQ(run_path(dir.path("absent.bin")), fail(OperationStep::ReadFile, FailureReason::FileUnreadable));
    EXPECT_TRUE(bus.host_frames().empty());
}

TEST_F(FirmwareUpdateTest, oneRefusingUnitFailsTheUpdateBeforeAnythingIsErased) {
    connect_units(3);
    bus.set_firmware_address(2, 0xFFFFFFFF);
    EXPECT_EQ(run(firmware_file(0x10000, 100, 0x100, 100)), fail(OperationStep::Prepare, FailureReason::Refused, 2));
    EXPECT_TRUE(sent(0x430).empty());
    EXPECT_TRUE(nothing_written());
}

TEST_F(FirmwareUpdateTest, silentUnitFailsThePrepare) {
    connect_units(2);
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::PrepareReply, 0, 2});
    std::vector<vk61::FirmwareTarget> targets{{9, 9}};
    EXPECT_EQ(comms->prepare_fw_update(&targets, 200), fail(OperationStep::Prepare, FailureReason::TimedOut, 2));
    EXPECT_TRUE(targets.empty());
}

// One unit goes wrong part-way through the image. The update ends on that
// unit's answer (complete=1 with a 10 s echo time-out), with its line, before
// another chunk goes out, and no unit gets the header or its set address.
struct ChunkFaultCase {
    const char* name;
    Fault fault;
    std::string cause;
    std::string failure;
    std::size_t chunks_sent;
    OperationResult result;
};

void PrintTo(const ChunkFaultCase& c, std::ostream* os) { *os << c.name; }

class FirmwareChunkFault : public FirmwareUpdateTest, public ::testing::WithParamInterface<ChunkFaultCase> {};

TEST_P(FirmwareChunkFault, endsTheUpdateAtThatChunkWithoutHeader) {
    const ChunkFaultCase& c = GetParam();
    connect_units(3);
    bus.add_fault(c.fault);
    bool succeeded = false;
    const OperationResult result = vk61::run_firmware_update(
        *comms, dir.write("fw.bin", firmware_file(0x10000, 300, 0x100, 300)), {}, [&] { succeeded = true; },
        vk61::FirmwareUpdateTimeouts{2000, 5000, 10000});
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(result, c.result) << describe(result);
    // The lines say more than the result: which chunk, and what the unit sent.
    EXPECT_EQ(log.count_exact(c.cause), 1u) << c.cause;
    EXPECT_EQ(log.count_exact(c.failure), 1u) << c.failure;
    EXPECT_EQ(sent(0x420).size(), c.chunks_sent);
    EXPECT_EQ(sent(0x440).size(), 3u) << "only the image addresses were set";
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        EXPECT_EQ(flash(uid, kWriteAddress, 64), std::vector<std::uint8_t>(64, 0xFF)) << "UID " << int(uid);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FirmwareChunkFault,
    ::testing::Values(ChunkFaultCase{"nack_on_second_chunk",
                                     {FaultKind::Nack, ReplyKind::FlashReply, 0x420, 3, 1},
                                     "fw_write: extflash NACK UID 3 op 0xAA\n",
                                     "fw_write: chunk failed at offset 64 (complete=1 failed=1)\n",
                                     2,
                                     fail(OperationStep::WriteChunk, FailureReason::Refused, 3)},
                      ChunkFaultCase{"nack_on_fourth_chunk",
                                     {FaultKind::Nack, ReplyKind::FlashReply, 0x420, 1, 3},
                                     "fw_write: extflash NACK UID 1 op 0xAA\n",
                                     "fw_write: chunk failed at offset 192 (complete=1 failed=1)\n",
                                     4,
                                     fail(OperationStep::WriteChunk, FailureReason::Refused, 1)},
                      // UID 2 answers the third chunk with the second chunk's address.
                      ChunkFaultCase{"unit_stops_advancing",
                                     {FaultKind::StuckAddress, ReplyKind::FlashReply, 0x420, 2, 2, 0},
                                     "fw_write: UID 2 write address mismatch (expected 0x001001C0 got 0x00100180)\n",
                                     "fw_write: chunk failed at offset 128 (complete=1 failed=1)\n",
                                     3,
                                     fail(OperationStep::WriteChunk, FailureReason::AddressMismatch, 2)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flashtest
