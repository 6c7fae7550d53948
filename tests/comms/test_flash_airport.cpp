// upload_airport_db and the airport worker: file checks, the close / erase /
// write / open order, and a unit that fails in the middle of the list.
#include <algorithm>
#include <optional>

#include "transfer/airport_worker.h"
#include "test_flash_support.h"

namespace flashtest {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;
using vk61::FailureReason;
using vk61::OperationResult;
using vk61::OperationStep;

constexpr std::uint64_t kMaxDatabase = 54525952;  // 832 blocks

class AirportUploadTest : public FlashTest {
protected:
    OperationResult upload(std::uint8_t uid, const std::string& path) {
        return comms->upload_airport_db(uid, path.c_str(), 5000, 2000, progress.callback());
    }
    // The host frames addressed to one unit, as (base, first data byte).
    std::vector<std::pair<unsigned, unsigned>> commands_to(std::uint8_t uid) const {
        std::vector<std::pair<unsigned, unsigned>> out;
        for (const sim::HostFrame& f : bus.host_frames()) {
            if (f.frame.uid_bits() == uid && f.frame.base() >= 0x420 && f.frame.base() <= 0x450) {
                out.emplace_back(f.frame.base(), f.frame.data()[0]);
            }
        }
        return out;
    }

    TempDir dir;
};

TEST_F(AirportUploadTest, oneByteDatabaseIsWrittenBetweenCloseAndOpen) {
    connect_units(1);
    const std::string path = dir.write("apt.db", {0x42});
    ASSERT_TRUE(upload(1, path));

    const std::vector<std::pair<unsigned, unsigned>> expected = {
        {0x450, 0xDC}, {0x430, 0xBE}, {0x440, 0x00}, {0x420, 0x42}, {0x450, 0xDA}};
    EXPECT_EQ(commands_to(1), expected);
    EXPECT_EQ(erased_blocks(1), std::vector<unsigned>{0});
    EXPECT_EQ(sent(0x420, 1).front().dlc(), 1u);
    EXPECT_EQ(flash(1, 0, 2), (std::vector<std::uint8_t>{0x42, 0xFF}));
    const auto status = bus.unit_status(1);
    EXPECT_TRUE(status->db_open);
    EXPECT_EQ(status->flash_faults.open_db_writes, 0u);  // nothing touched while the unit used its database
    EXPECT_EQ(progress.phase(0).back(), ProgressLog::Call(1, 1, 0));
    EXPECT_EQ(progress.phase(1).back(), ProgressLog::Call(1, 1, 1));
    EXPECT_TRUE(log.contains("upload_airport_db (UID 1): 1 bytes, erasing 1 blocks from 0x00000000\n"));
    EXPECT_TRUE(log.contains("upload_airport_db: complete on UID 1\n"));
}

TEST_F(AirportUploadTest, firstEraseWaitsTenMillisecondsAfterTheCloseAcknowledgement) {
    connect_units(1);
    ASSERT_TRUE(upload(1, dir.write("apt.db", pattern(100))));
    // The unit acknowledges the close command from inside its reception, so
    // the time between the two frames is at most the pause after the ack.
    std::optional<sim::Installation::Clock::time_point> closed, first_erase;
    for (const sim::HostFrame& f : bus.host_frames()) {
        if (!closed && f.frame.base() == 0x450 && f.frame.data()[0] == 0xDC) closed = f.at;
        if (!first_erase && f.frame.base() == 0x430) first_erase = f.at;
    }
    ASSERT_TRUE(closed && first_erase);
    EXPECT_GE(*first_erase - *closed, std::chrono::milliseconds(10));
}

TEST_F(AirportUploadTest, refusedWriteLeavesTheDatabaseClosed) {
    connect_units(1);
    // The unit refuses the second chunk.
    bus.add_fault(Fault{FaultKind::Nack, ReplyKind::FlashReply, 0x420, 1, 1});
    EXPECT_EQ(upload(1, dir.write("apt.db", pattern(200))),
              OperationResult::failure(OperationStep::WriteChunk, FailureReason::Refused, 1));
    EXPECT_EQ(sent(0x420, 1).size(), 2u);
    const std::vector<std::pair<unsigned, unsigned>> commands = commands_to(1);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::pair<unsigned, unsigned>{0x450, 0xDA}), 0)
        << "the database must not be opened over a half-written file";
    EXPECT_FALSE(bus.unit_status(1)->db_open);
    EXPECT_FALSE(log.contains("upload_airport_db: opening airport DB"));
}

TEST_F(AirportUploadTest, largestDatabaseIsAccepted) {
    connect_units(1);
    // Stop right after the size check: the unit refuses to close its database.
    bus.add_fault(Fault{FaultKind::Nack, ReplyKind::PlainAck, 0x450, 1});
    EXPECT_EQ(upload(1, dir.sized("max.db", kMaxDatabase)),
              OperationResult::failure(OperationStep::CloseDatabase, FailureReason::Refused, 1));
    EXPECT_TRUE(log.contains("upload_airport_db (UID 1): 54525952 bytes, erasing 832 blocks from 0x00000000\n"));
}

struct RefusedFileCase {
    const char* name;
    std::uint64_t size;  // of the file, written sparse
    FailureReason reason;
    std::string line;  // says how large, which the result does not
};

class AirportRefusedFile : public AirportUploadTest, public ::testing::WithParamInterface<RefusedFileCase> {};

TEST_P(AirportRefusedFile, isRefusedBeforeAnyCommand) {
    const RefusedFileCase& c = GetParam();
    connect_units(1);
    EXPECT_EQ(upload(1, dir.sized("apt.db", c.size)), OperationResult::failure(OperationStep::CheckFile, c.reason, 1));
    EXPECT_TRUE(log.contains(c.line)) << c.line;
    EXPECT_TRUE(bus.host_frames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, AirportRefusedFile,
    ::testing::Values(
        RefusedFileCase{"one_byte_too_many", kMaxDatabase + 1, FailureReason::FileTooLarge,
                        "upload_airport_db: file too large (54525953 bytes, 833 blocks); max 832 blocks\n"},
        RefusedFileCase{"empty", 0, FailureReason::InvalidRequest, "upload_airport_db: empty or invalid file size\n"},
        // Sizes that a 32-bit signed size would have taken for negative, or
        // wrapped to one byte.
        RefusedFileCase{"over_2_gib", (std::uint64_t{1} << 31) + 1, FailureReason::FileTooLarge,
                        "upload_airport_db: file too large (2147483649 bytes, 32769 blocks); max 832 blocks\n"},
        RefusedFileCase{"over_4_gib", (std::uint64_t{1} << 32) + 1, FailureReason::FileTooLarge,
                        "upload_airport_db: file too large (4294967297 bytes, 65537 blocks); max 832 blocks\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AirportUploadTest, missingFileAndPathAreRefused) {
    connect_units(1);
    const OperationResult unreadable =
        OperationResult::failure(OperationStep::ReadFile, FailureReason::FileUnreadable, 1);
    EXPECT_EQ(upload(1, dir.path("absent.db")), unreadable);
    EXPECT_EQ(comms->upload_airport_db(1, nullptr, 100, 100, {}), unreadable);
    EXPECT_TRUE(bus.host_frames().empty());
}

TEST_F(AirportUploadTest, workerStopsAtTheFirstUnitThatFails) {
    connect_units(3);
    const std::vector<std::uint8_t> old_db(3000, 0x11);
    for (std::uint8_t uid = 1; uid <= 3; ++uid) ASSERT_TRUE(bus.preload_flash(uid, 0, old_db));
    const std::vector<std::uint8_t> new_db = pattern(1000);
    const std::string path = dir.write("apt.db", new_db);
    // The second unit does not acknowledge the close command.
    bus.add_fault(Fault{FaultKind::Nack, ReplyKind::PlainAck, 0x450, 2});

    std::vector<std::tuple<int, int, int>> starts;
    const vk61::AirportResult result = vk61::run_airport_upload(
        *comms, path, {1, 2, 3},
        [&](std::uint8_t uid, int position, int total) { starts.emplace_back(uid, position, total); },
        progress.callback(), vk61::AirportUploadTimeouts{5000, 2000});

    EXPECT_EQ(result.units_done, 1);
    EXPECT_EQ(result.units_total, 3);
    EXPECT_EQ(result.failed_uid, 2);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(starts, (std::vector<std::tuple<int, int, int>>{{1, 1, 3}, {2, 2, 3}}));

    EXPECT_EQ(flash(1, 0, new_db.size()), new_db);
    EXPECT_TRUE(bus.unit_status(1)->db_open);
    EXPECT_EQ(commands_to(2), (std::vector<std::pair<unsigned, unsigned>>{{0x450, 0xDC}}));  // no erase, no write
    EXPECT_EQ(flash(2, 0, old_db.size()), old_db);
    EXPECT_TRUE(commands_to(3).empty());
    EXPECT_EQ(flash(3, 0, old_db.size()), old_db);
    EXPECT_EQ(result.failure, OperationResult::failure(OperationStep::CloseDatabase, FailureReason::Refused, 2));
}

TEST_F(AirportUploadTest, workerReportsSuccessWhenEveryUnitIsDone) {
    connect_units(2);
    const std::vector<std::uint8_t> db = pattern(70000, 5);  // two blocks
    const std::string path = dir.write("apt.db", db);
    const vk61::AirportResult result = vk61::run_airport_upload(*comms, path, {2, 1}, {}, progress.callback());
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(result.units_done, 2);
    EXPECT_EQ(result.failed_uid, 0);
    EXPECT_TRUE(result.failure.ok()) << describe(result.failure);
    for (std::uint8_t uid = 1; uid <= 2; ++uid) {
        EXPECT_EQ(flash(uid, 0, db.size()), db);
        EXPECT_EQ(erased_blocks(uid), (std::vector<unsigned>{0, 1}));
    }
}

}  // namespace
}  // namespace flashtest
