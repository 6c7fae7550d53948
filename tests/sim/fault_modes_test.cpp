// The named fault modes, each seen from the host: what arrives instead of the
// sound reply.
#include "sim_fixture.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;
using simtest::cat;
using simtest::payload;
using simtest::u32;
using V = std::vector<std::uint8_t>;

class FaultModes : public simtest::SimFixture {
protected:
    std::vector<vk61::BusFrame> read_setting(std::uint8_t uid, std::uint8_t index) {
        return exchange(0x370 | uid, 2, {0x00, index});
    }
    std::vector<vk61::BusFrame> write_setting(std::uint8_t index, std::uint32_t value, std::uint8_t seq) {
        return exchange(0x390, 8, cat({{index}, u32(value), {seq, 0, 0}}));
    }
};

// One row: a fault on a setting read of UID 1 (index 9, value 115) or a
// setting write (acks from UIDs 1-3, sequence 5), and the payload the host gets.
TEST_F(FaultModes, rewritingFaults_changeExactlyTheirField) {
    struct Row {
        const char* name;
        Fault fault;
        bool on_write;
        std::uint32_t identifier;  // of the first reply
        std::uint8_t dlc;
        V first_payload;
    };
    const Row rows[] = {
        {"wrong index",
         {FaultKind::WrongIndex, ReplyKind::SettingReply, 0, 0, 0, 1, 10},
         false,
         0x381,
         6,
         cat({{1, 10}, u32(115)})},
        {"wrong uid",
         {FaultKind::WrongUid, ReplyKind::SettingReply, 0, 0, 0, 1, 4},
         false,
         0x384,
         6,
         cat({{4, 9}, u32(115)})},
        {"short payload",
         {FaultKind::ShortPayload, ReplyKind::SettingReply, 0, 0, 0, 1, 5},
         false,
         0x381,
         5,
         cat({{1, 9}, V{115, 0, 0}})},
        {"corrupt value byte",
         {FaultKind::Corrupt, ReplyKind::SettingReply, 0, 0, 0, 1, 2},
         false,
         0x381,
         6,
         cat({{1, 9}, u32(115 ^ 0xFF)})},
        {"nack", {FaultKind::Nack, ReplyKind::SequencedAck, 0x390, 1}, true, 0x0E1, 7, V{1, 0x90, 0x03, 0, 5, 0, 0}},
        {"invalid status",
         {FaultKind::BadStatus, ReplyKind::SequencedAck, 0, 1, 0, 1, 7},
         true,
         0x0E1,
         7,
         V{1, 0x90, 0x03, 7, 5, 0, 0}},
        {"wrong sequence",
         {FaultKind::WrongSequence, ReplyKind::SequencedAck, 0, 1, 0, 1, 6},
         true,
         0x0E1,
         7,
         V{1, 0x90, 0x03, 1, 6, 0, 0}},
    };
    for (const auto& row : rows) {
        bus.clear_faults();
        bus.add_fault(row.fault);
        const auto replies = row.on_write ? write_setting(20, 0xFF00C000u, 5) : read_setting(1, 9);
        ASSERT_FALSE(replies.empty()) << row.name;
        EXPECT_EQ(replies[0].identifier(), row.identifier) << row.name;
        EXPECT_EQ(replies[0].dlc(), row.dlc) << row.name;
        EXPECT_EQ(payload(replies[0]), row.first_payload) << row.name;
        if (row.on_write) {  // the other units are untouched
            ASSERT_EQ(replies.size(), 3u) << row.name;
            EXPECT_EQ(payload(replies[1]), (V{2, 0x90, 0x03, 1, 5, 0, 0})) << row.name;
        }
        EXPECT_EQ(bus.armed_faults(), 0u) << row.name;  // used up after one reply
    }
}

TEST_F(FaultModes, dropDuplicateAndSilentUnit) {
    bus.add_fault({FaultKind::Drop, ReplyKind::WhoAmI, 0, 2});
    auto replies = exchange(0x010, 2, {0xEF, 0x15});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].identifier(), 0x013u);
    EXPECT_EQ(exchange(0x010, 2, {0xEF, 0x15}).size(), 3u);  // only the next one

    bus.add_fault({FaultKind::Duplicate, ReplyKind::SettingReply});
    replies = read_setting(1, 9);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(payload(replies[0]), payload(replies[1]));

    bus.add_fault({FaultKind::Drop, ReplyKind::Any, 0, 3, 0, 0});  // unit 3 answers nothing, ever
    for (int i = 0; i < 3; ++i) EXPECT_EQ(write_setting(1, 40, 1).size(), 2u);
    EXPECT_TRUE(read_setting(3, 9).empty());
    EXPECT_EQ(bus.ram_element(3, 1), 40u);  // it still applied the writes
}

TEST_F(FaultModes, skipAndTimes_pickTheNthOccurrence) {
    bus.remove_unit(2);
    bus.remove_unit(3);
    // NACK the 3rd and 4th write chunk of UID 1.
    bus.add_fault({FaultKind::Nack, ReplyKind::FlashReply, 0x420, 1, 2, 2});
    exchange(0x440 | 1, 4, u32(0));
    const V chunk(64, 0x77);
    std::vector<std::uint8_t> statuses;
    for (int i = 0; i < 5; ++i) {
        const auto r = exchange(0x420 | 1, 15, chunk);
        ASSERT_EQ(r.size(), 1u);
        statuses.push_back(r[0].data()[6]);
    }
    EXPECT_EQ(statuses, (V{1, 1, 0, 0, 1}));
}

TEST_F(FaultModes, flashReplyFaults) {
    bus.remove_unit(2);
    bus.remove_unit(3);
    bus.add_fault({FaultKind::WrongAddress, ReplyKind::FlashReply, 0x440, 1, 0, 1, 0x1234});
    auto r = exchange(0x440 | 1, 4, u32(0x100));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(payload(r[0]), cat({{1, 0xA1}, u32(0x1234), {1}}));
    EXPECT_EQ(bus.unit_status(1)->write_pointer, 0x100u);  // the unit itself is right

    bus.add_fault({FaultKind::WrongOperation, ReplyKind::FlashReply, 0x420, 0, 0, 1, 0xA1});
    r = exchange(0x420 | 1, 2, {1, 2});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(payload(r[0]), cat({{1, 0xA1}, u32(0x102), {1}}));
}

TEST_F(FaultModes, stuckAddress_repeatsTheLastEchoLetThrough) {
    bus.remove_unit(2);
    bus.remove_unit(3);
    // From the 3rd chunk on, UID 1 echoes where its 2nd chunk left it.
    bus.add_fault({FaultKind::StuckAddress, ReplyKind::FlashReply, 0x420, 1, 2, 0});
    exchange(0x440 | 1, 4, u32(0x1000));
    const V chunk(64, 0x77);
    std::vector<std::uint32_t> echoes;
    for (int i = 0; i < 5; ++i) {
        const auto r = exchange(0x420 | 1, 15, chunk);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].data()[6], 1) << "still reports success";
        echoes.push_back(vk61::get_u32(r[0].data() + 2));
    }
    EXPECT_EQ(echoes, (std::vector<std::uint32_t>{0x1040, 0x1080, 0x1080, 0x1080, 0x1080}));
    // Other commands' replies are left alone.
    const auto r = exchange(0x440 | 1, 4, u32(0x2000));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(vk61::get_u32(r[0].data() + 2), 0x2000u);
}

TEST_F(FaultModes, eraseFaults_reorderAndNackAtBlockN) {
    bus.remove_unit(2);
    bus.remove_unit(3);
    bus.add_fault({FaultKind::Reorder, ReplyKind::SequencedAck, 0x430});
    auto r = exchange(0x430 | 1, 6, {0xBE, 1, 0, 0, 5, 0});
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].base(), 0x0F0u);  // the flash reply overtakes its ack
    EXPECT_EQ(r[1].base(), 0x0E0u);

    bus.add_fault({FaultKind::Nack, ReplyKind::SequencedAck, 0x430, 1, 1});  // the 2nd erase from now
    r = exchange(0x430 | 1, 6, {0xBE, 2, 0, 0, 6, 0});
    EXPECT_EQ(r[0].data()[3], 1);
    r = exchange(0x430 | 1, 6, {0xBE, 3, 0, 0, 7, 0});
    EXPECT_EQ(r[0].data()[3], 0);
}

TEST_F(FaultModes, refusedPrepare_throughTheAddressFault) {
    bus.add_fault({FaultKind::WrongAddress, ReplyKind::PrepareReply, 0, 2, 0, 1, 0xFFFFFFFFu});
    const auto r = exchange(0x730, 2, {0x24, 0x67});
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(payload(r[0]), cat({{1}, u32(0x00100000u)}));
    EXPECT_EQ(payload(r[1]), cat({{2}, u32(0xFFFFFFFFu)}));
}

TEST_F(FaultModes, delay_holdsTheReplyBack) {
    bus.add_fault({FaultKind::Delay, ReplyKind::SettingReply, 0, 0, 0, 1, 20});
    EXPECT_TRUE(read_setting(1, 9).empty());  // not yet
    const auto f = host.read_frame(3000);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->identifier(), 0x381u);
}

TEST_F(FaultModes, faultsDoNotMatchRepliesTheyCannotChange) {
    // A NACK has no status byte to set in a setting reply: it waits for an ack.
    bus.add_fault({FaultKind::Nack, ReplyKind::Any, 0, 1});
    EXPECT_EQ(payload(read_setting(1, 9)[0]), cat({{1, 9}, u32(115)}));
    EXPECT_EQ(bus.armed_faults(), 1u);
    EXPECT_EQ(write_setting(1, 40, 1)[0].data()[3], 0);
    EXPECT_EQ(bus.armed_faults(), 0u);
}

TEST_F(FaultModes, settingFaults_pickTheirIndex_afterTheGoodOnes) {
    // Lose the 2nd and 3rd replies to reads of setting 14; other indices pass.
    bus.add_fault({FaultKind::Drop, ReplyKind::SettingReply, 0x370, 0, 1, 2, 0, 14});
    EXPECT_EQ(read_setting(1, 14).size(), 1u);
    EXPECT_EQ(read_setting(1, 9).size(), 1u);
    EXPECT_TRUE(read_setting(1, 14).empty());
    EXPECT_TRUE(read_setting(1, 14).empty());
    EXPECT_EQ(read_setting(1, 14).size(), 1u);

    // The acknowledgements of a write carry the index written.
    bus.add_fault({FaultKind::Drop, ReplyKind::SequencedAck, 0x390, 2, 0, 1, 0, 6});
    EXPECT_EQ(write_setting(5, 10, 1).size(), 3u);
    EXPECT_EQ(write_setting(6, 10, 2).size(), 2u);
    EXPECT_EQ(bus.armed_faults(), 0u);
}

TEST_F(FaultModes, lostHostFrame_neverReachesTheUnits) {
    // Every unit misses the write: no acknowledgement, nothing changes.
    bus.add_fault({FaultKind::LoseHostFrame, ReplyKind::Any, 0x390, 0, 0, 1, 0, 6});
    const std::uint32_t before = *bus.ram_element(1, 6);
    EXPECT_TRUE(write_setting(6, before + 1, 1).empty());
    for (std::uint8_t uid : {1, 2, 3}) EXPECT_EQ(bus.ram_element(uid, 6), before) << int(uid);
    EXPECT_EQ(bus.host_frame_count(), 1u);  // the host did send it

    // Only UID 2 misses the next one.
    bus.add_fault({FaultKind::LoseHostFrame, ReplyKind::Any, 0x390, 2, 0, 1, 0, 6});
    EXPECT_EQ(write_setting(6, before + 2, 2).size(), 2u);
    EXPECT_EQ(bus.ram_element(1, 6), before + 2);
    EXPECT_EQ(bus.ram_element(2, 6), before);
    EXPECT_EQ(bus.ram_element(3, 6), before + 2);

    // A lost read: the unit never saw it, so it never answers.
    bus.add_fault({FaultKind::LoseHostFrame, ReplyKind::Any, 0x370, 0, 0, 1, 0, 9});
    EXPECT_TRUE(read_setting(1, 9).empty());
    EXPECT_EQ(read_setting(1, 9).size(), 1u);
}

TEST_F(FaultModes, whoamiAtOnce_overtakesTheLatency) {
    bus.set_latency(20ms);
    bus.set_whoami_at_once(true);
    EXPECT_EQ(exchange(0x010, 2, {0xEF, 0x15}).size(), 3u);  // before exchange() returns
    EXPECT_TRUE(read_setting(1, 9).empty());                 // still delayed
    EXPECT_TRUE(host.read_frame(3000));
}

}  // namespace
