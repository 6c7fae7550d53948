// The airport database to every unit at once: one erase run, each chunk sent
// once to all units, and a unit that fails in the first, a middle or the last
// place while the others carry on.
#include <algorithm>

#include "transfer/airport_worker.h"
#include "test_flash_support.h"

namespace flashtest {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;
using vk61::FailureReason;
using vk61::OperationStep;

class AirportTogetherTest : public FlashTest {
protected:
    vk61::AirportResult upload(const std::vector<std::uint8_t>& db, const std::vector<std::uint8_t>& uids) {
        std::vector<vk61::AirportUnitProgress> fresh;
        for (std::uint8_t uid : uids) fresh.push_back({uid, {}, 0, false});
        return vk61::run_airport_upload_together(*comms, db, fresh, progress.callback(),
                                                 vk61::AirportUploadTimeouts{5000, 300}, {});
    }
    // Chunks sent after the first one addressed to a single unit: broadcasts.
    std::size_t broadcasts_after_first_addressed_chunk() const {
        bool addressed = false;
        std::size_t count = 0;
        for (const sim::HostFrame& f : bus.host_frames()) {
            if (f.frame.base() != 0x420) continue;
            if (f.frame.uid_bits() != 0)
                addressed = true;
            else if (addressed)
                ++count;
        }
        return count;
    }
};

TEST_F(AirportTogetherTest, everyUnitGetsEachChunkOnceAndOneEraseRun) {
    connect_units(3);
    const std::vector<std::uint8_t> db = pattern(70000, 3);  // two blocks, 1,094 chunks
    const vk61::AirportResult result = upload(db, {1, 2, 3});
    ASSERT_TRUE(result.ok()) << describe(result.failure);
    EXPECT_EQ(result.units_done, 3);
    EXPECT_EQ(sent(0x420, 0).size(), 1094u);  // broadcast only
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        EXPECT_EQ(flash(uid, 0, db.size()), db) << "UID " << unsigned{uid};
        EXPECT_EQ(erased_blocks(uid), (std::vector<unsigned>{0, 1}));
        EXPECT_TRUE(sent(0x420, uid).empty());
        EXPECT_TRUE(bus.unit_status(uid)->db_open);
    }
    // One bar: the write reaches the whole file once.
    EXPECT_EQ(progress.phase(1).back(), ProgressLog::Call(db.size(), db.size(), 1));
}

struct FailingUnit {
    const char* name;
    Fault fault;
    OperationStep step;
    FailureReason reason;
    std::uint32_t furthest;  // the failing unit's write pointer at most: nothing reached it afterwards
};

class AirportTogetherFailure : public AirportTogetherTest, public ::testing::WithParamInterface<FailingUnit> {};

// The failing unit gets no open command and keeps its database closed; no
// chunk reaches it once it dropped out (the others finish with chunks
// addressed to them); every other unit holds the file.
TEST_P(AirportTogetherFailure, othersCarryOnAndHoldTheFile) {
    const FailingUnit& c = GetParam();
    connect_units(3);
    const std::vector<std::uint8_t> db = pattern(70000, 4);
    bus.add_fault(c.fault);
    const std::uint8_t failing = c.fault.uid;

    const vk61::AirportResult result = upload(db, {1, 2, 3});

    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.units_done, 2);
    EXPECT_EQ(result.failed_uid, failing);
    EXPECT_EQ(result.failure, vk61::OperationResult::failure(c.step, c.reason, failing)) << describe(result.failure);
    ASSERT_EQ(result.units.size(), 3u);
    for (const vk61::AirportUnitOutcome& unit : result.units) {
        SCOPED_TRACE("UID " + std::to_string(unit.uid));
        const sim::UnitStatus status = *bus.unit_status(unit.uid);
        if (unit.uid == failing) {
            EXPECT_FALSE(unit.holds_new);
            EXPECT_FALSE(status.db_open);
            for (const vk61::BusFrame& f : sent(0x450, unit.uid)) EXPECT_NE(f.data()[0], 0xDA);
            EXPECT_TRUE(sent(0x420, unit.uid).empty());
            EXPECT_LE(status.write_pointer, c.furthest);
        } else {
            EXPECT_TRUE(unit.holds_new);
            EXPECT_EQ(flash(unit.uid, 0, db.size()), db);
            EXPECT_TRUE(status.db_open);
        }
        EXPECT_EQ(status.flash_faults.unerased_writes, 0u);
    }
    EXPECT_EQ(broadcasts_after_first_addressed_chunk(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, AirportTogetherFailure,
    ::testing::Values(
        // First: refuses its 300th chunk.
        FailingUnit{"first_refuses_a_chunk", Fault{FaultKind::Nack, ReplyKind::FlashReply, 0x420, 1, 299},
                    OperationStep::WriteChunk, FailureReason::Refused, 301 * 64},
        // Middle: echoes a wrong address for its 500th chunk.
        FailingUnit{"middle_echoes_wrongly",
                    Fault{FaultKind::WrongAddress, ReplyKind::FlashReply, 0x420, 2, 499, 1, 0x1234},
                    OperationStep::WriteChunk, FailureReason::AddressMismatch, 501 * 64},
        // Last: stops answering after its 700th chunk.
        FailingUnit{"last_stops_answering", Fault{FaultKind::Drop, ReplyKind::Any, 0x420, 3, 700, 0},
                    OperationStep::WriteChunk, FailureReason::TimedOut, 702 * 64},
        // Middle: refuses its second erase block.
        FailingUnit{"middle_refuses_an_erase", Fault{FaultKind::Nack, ReplyKind::SequencedAck, 0x430, 2, 1},
                    OperationStep::Erase, FailureReason::Refused, 0},
        // First: refuses to close its database.
        FailingUnit{"first_refuses_the_close", Fault{FaultKind::Nack, ReplyKind::PlainAck, 0x450, 1},
                    OperationStep::CloseDatabase, FailureReason::Refused, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A resume with units a chunk apart, each holding a chunk whose echo was
// lost: UID 2 loses the echo of chunk 100 and drops out, then UIDs 1 and 3,
// written on their own, lose that of chunk 101. Each unit may write its own
// unconfirmed chunk again, and nothing else it confirmed.
TEST_F(AirportTogetherTest, resumeOfUnitsAChunkApart_writesNoConfirmedChunkAgain) {
    connect_units(3);
    const std::vector<std::uint8_t> db = pattern(70000, 5);
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::FlashReply, 0x420, 2, 100});
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::FlashReply, 0x420, 1, 101});
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::FlashReply, 0x420, 3, 101});
    std::vector<vk61::AirportUnitProgress> saved;
    std::vector<vk61::AirportUnitProgress> fresh;
    for (std::uint8_t uid = 1; uid <= 3; ++uid) fresh.push_back({uid, {}, 0, false});
    const vk61::AirportResult first =
        vk61::run_airport_upload_together(*comms, db, fresh, {}, vk61::AirportUploadTimeouts{5000, 300},
                                          [&](const std::vector<vk61::AirportUnitProgress>& units) { saved = units; });
    ASSERT_EQ(first.units_done, 0);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].written, 101u * 64);
    EXPECT_EQ(saved[1].written, 100u * 64);
    EXPECT_EQ(saved[2].written, 101u * 64);
    bus.clear_faults();

    const vk61::AirportResult resumed =
        vk61::run_airport_upload_together(*comms, db, saved, {}, vk61::AirportUploadTimeouts{5000, 300}, {});
    ASSERT_TRUE(resumed.ok()) << describe(resumed.failure);
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        SCOPED_TRACE("UID " + std::to_string(uid));
        const sim::UnitStatus status = *bus.unit_status(uid);
        EXPECT_EQ(flash(uid, 0, db.size()), db);
        EXPECT_EQ(status.flash_faults.chunks_written_again, 1u);
        EXPECT_EQ(status.flash_faults.repeated_erases, 0u);
        EXPECT_EQ(status.flash_faults.unerased_writes, 0u);
    }
}

}  // namespace
}  // namespace flashtest
