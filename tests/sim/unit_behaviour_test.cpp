// What the simulated units answer, checked frame by frame through raw hidapi
// calls, and what they hold afterwards.
#include "sim_fixture.h"

#include "config_crc.h"
#include "config_image.h"
#include "default_config.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using simtest::cat;
using simtest::payload;
using simtest::u32;
using V = std::vector<std::uint8_t>;

class UnitBehaviour : public simtest::SimFixture {};

TEST(ConfigCrc, knownVectorAndEmptyRun) {
    const std::uint32_t digits[] = {0x31323334u, 0x35363738u};
    EXPECT_EQ(sim::crc32_mpeg2_words(digits, 2), 0x49E3C2FBu);
    EXPECT_EQ(sim::crc32_mpeg2_words(digits, 0), 0xFFFFFFFFu);
}

TEST(ConfigImage, defaultRecordIsConsistent) {
    const auto image = sim::default_config_image();
    EXPECT_EQ(sim::config_element(image, 252), sim::config_image_crc(image));
    EXPECT_EQ(sim::config_element(image, 253), 0x5F51455Au);
    EXPECT_EQ(sim::config_element(image, 255), 35u);
    EXPECT_EQ(sim::config_element(image, 9), 115u);
    EXPECT_EQ(sim::config_element(image, 10), 155u);
    EXPECT_EQ(V(image.begin() + 32, image.begin() + 44), (V{'N', '1', '2', '3', 'A', 'B', 0, 0, 0, 0, 0, 0}));
    // The stored checksum is the CRC of num_elements words from offset 4.
    const auto words_of = [](const sim::ConfigImage& im) {
        std::vector<std::uint32_t> w;
        for (std::size_t o = 4; o + 4 <= im.size(); o += 4) w.push_back(vk61::get_u32(im.data() + o));
        return w;
    };
    EXPECT_EQ(sim::config_element(image, 252), sim::crc32_mpeg2_words(words_of(image).data(), 35));
    // A count beyond the record stops at its end instead of reading past it.
    auto bad = image;
    sim::set_config_element(bad, 255, 1000);
    EXPECT_EQ(sim::config_image_crc(bad), sim::crc32_mpeg2_words(words_of(bad).data(), 35));
}

TEST(ConfigImage, elementEncoding) {
    sim::ConfigImage image{};
    struct Row {
        unsigned index;
        std::uint32_t written;
        std::uint32_t read_back;
    };
    const Row rows[] = {
        {1, 300, 44},                  // uint8 keeps the low byte
        {9, 0x12345, 0x2345},          // uint16 keeps the low half
        {11, 0x414243C4, 0x414243C4},  // registration word, big-endian in the image
        {37, 0x00000200, 0x00000200},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(sim::set_config_element(image, row.index, row.written));
        EXPECT_EQ(sim::config_element(image, row.index), row.read_back) << row.index;
    }
    EXPECT_EQ(V(image.begin() + 32, image.begin() + 36), (V{0x41, 0x42, 0x43, 0xC4}));
    EXPECT_EQ(image[133], 2);  // UID 5's default screen
    for (unsigned bad : {40u, 251u, 256u}) {
        EXPECT_FALSE(sim::set_config_element(image, bad, 1)) << bad;
        EXPECT_FALSE(sim::config_element(image, bad)) << bad;
    }
}

TEST_F(UnitBehaviour, whoami_everyUnitRepliesWithItsIdentity) {
    const auto replies = exchange(0x010, 2, {0xEF, 0x15});
    ASSERT_EQ(replies.size(), 3u);
    const std::uint32_t ids[] = {0xC3010001u, 0xD5020002u, 0xFF010003u};
    const std::uint32_t fw[] = {0x01040200u, 0x02010000u, 0x01000300u};
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        const auto& f = replies[uid - 1];
        EXPECT_EQ(f.identifier(), 0x010u | uid);
        EXPECT_EQ(f.dlc(), 9);
        EXPECT_EQ(payload(f), cat({u32(ids[uid - 1]), u32(fw[uid - 1]), {uid, 0, 0, 0}}));
    }
    EXPECT_TRUE(exchange(0x010, 2, {0xEF, 0x16}).empty());  // not the WHOAMI pattern
}

TEST_F(UnitBehaviour, clientInfo_onlyTheNamedUnitReplies) {
    const auto replies = exchange(0x790, 2, {'s', 2});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].identifier(), 0x792u);
    EXPECT_EQ(replies[0].dlc(), 9);
    EXPECT_EQ(payload(replies[0]), cat({{2}, u32(0xD5020002u), u32(0x02010000u), V(3, 0)}));
    EXPECT_TRUE(exchange(0x790, 2, {'s', 9}).empty());
}

TEST_F(UnitBehaviour, occupancyReport_presentAndAliveMasks) {
    bus.send_occupancy_report();
    bus.send_occupancy_report(0x0000000B, 0x00000002);
    const auto reports = host.drain();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].identifier(), 0x790u);
    EXPECT_EQ(payload(reports[0]), cat({{'r'}, u32(0x0E), u32(0x0E), V(3, 0)}));
    EXPECT_EQ(payload(reports[1]), cat({{'r'}, u32(0x0B), u32(0x02), V(3, 0)}));
}

TEST_F(UnitBehaviour, settingRead_repliesWithValue_unknownIndexStaysSilent) {
    const auto replies = exchange(0x370 | 1, 2, {0x00, 9});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].identifier(), 0x381u);
    EXPECT_EQ(replies[0].dlc(), 6);
    EXPECT_EQ(payload(replies[0]), cat({{1, 9}, u32(115)}));
    EXPECT_TRUE(exchange(0x370 | 1, 2, {0x00, 40}).empty());
    EXPECT_TRUE(exchange(0x370 | 9, 2, {0x00, 9}).empty());  // nobody on UID 9
}

TEST_F(UnitBehaviour, settingWrite_everyUnitAppliesAndAcksWithTheSequence) {
    const auto acks = exchange(0x390, 8, cat({{34}, u32(0x6), {0x56, 0x34, 0x12}}));
    ASSERT_EQ(acks.size(), 3u);
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        EXPECT_EQ(acks[uid - 1].identifier(), 0x0E0u | uid);
        EXPECT_EQ(acks[uid - 1].dlc(), 7);
        EXPECT_EQ(payload(acks[uid - 1]), (V{uid, 0x90, 0x03, 1, 0x56, 0x34, 0x12}));
        EXPECT_EQ(bus.ram_element(uid, 34), 6u);
        EXPECT_EQ(bus.eeprom_element(uid, 34), 0x0Au);  // not stored yet
    }
    const auto nack = exchange(0x390, 8, cat({{40}, u32(1), {1, 0, 0}}));
    ASSERT_EQ(nack.size(), 3u);
    EXPECT_EQ(nack[0].data()[3], 0);  // index 40 does not exist
}

TEST_F(UnitBehaviour, storeThenReboot_keepsTheStoredValue_rebootWithoutStoreLosesIt) {
    bus.set_reboot_duration(30ms);
    exchange(0x390, 8, cat({{1}, u32(33), {1, 0, 0}}));
    const auto acks = exchange(0x3A0, 7, cat({u32(0xCAFEF00D), {2, 0, 0}}));
    ASSERT_EQ(acks.size(), 3u);
    EXPECT_EQ(payload(acks[0]), (V{1, 0xA0, 0x03, 1, 2, 0, 0}));
    EXPECT_EQ(bus.eeprom_element(1, 1), 33u);
    EXPECT_EQ(bus.eeprom_element(1, 252), 0xCAFEF00Du);

    exchange(0x390, 8, cat({{1}, u32(44), {3, 0, 0}}));  // RAM only
    EXPECT_TRUE(exchange(0x3B0, 1, {0x48}).empty());
    EXPECT_TRUE(bus.unit_status(1)->rebooting);
    EXPECT_TRUE(exchange(0x370 | 1, 2, {0x00, 1}).empty());  // silent while rebooting
    EXPECT_TRUE(exchange(0x010, 2, {0xEF, 0x15}).empty());

    EXPECT_TRUE(bus.wait_until([&] { return !bus.unit_status(3)->rebooting; }, 3000ms));
    const auto back = host.read_frame(3000);  // the occupancy report that marks them alive
    ASSERT_TRUE(back);
    EXPECT_EQ(payload(*back), cat({{'r'}, u32(0x0E), u32(0x0E), V(3, 0)}));
    EXPECT_FALSE(bus.unit_status(1)->rebooting);
    const auto read = exchange(0x370 | 1, 2, {0x00, 1});
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(payload(read[0]), cat({{1, 1}, u32(33)}));
}

TEST_F(UnitBehaviour, defaultChecksumOnTheBus_matchesTheCrcOfTheRecord) {
    const auto image = bus.ram_image(1);
    ASSERT_TRUE(image);
    const auto read = exchange(0x370 | 1, 2, {0x00, 252});
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(vk61::get_u32(read[0].data() + 2), sim::config_image_crc(*image));
}

TEST_F(UnitBehaviour, chunkLength_followsDlcAndTrimsPaddingAbove8Bytes) {
    struct Row {
        const char* name;
        std::size_t real_len;   // bytes of data
        std::size_t zero_tail;  // how many of them, at the end, are zero
        std::uint32_t echo_offset;
    };
    const Row rows[] = {
        {"full 64", 64, 0, 64},
        {"full 64 ending in 00 00 00 is taken whole", 64, 3, 64},
        {"full 64 ending in four zeros is misjudged", 64, 4, 60},
        {"last 36 as DLC 14", 36, 0, 36},
        {"last 50 as DLC 15", 50, 0, 50},
        {"last 62 as DLC 15 is misjudged", 62, 0, 64},
        {"2 bytes", 2, 0, 2},
        {"8 bytes ending in zero", 8, 2, 8},  // at 8 and below nothing is trimmed
        {"36 ending 00 00 is misjudged", 36, 2, 34},
        {"49 bytes", 49, 0, 49},
    };
    std::uint32_t address = 0x1000;
    for (const auto& row : rows) {
        ASSERT_EQ(exchange(0x440 | 1, 4, u32(address)).size(), 1u) << row.name;
        V data(row.real_len, 0x5A);
        for (std::size_t i = 0; i < row.zero_tail; ++i) data[row.real_len - 1 - i] = 0;
        const auto replies = exchange(0x420 | 1, vk61::bytes_to_dlc(row.real_len), data);
        ASSERT_EQ(replies.size(), 1u) << row.name;
        EXPECT_EQ(payload(replies[0]), cat({{1, 0xAA}, u32(address + row.echo_offset), {1}})) << row.name;
        EXPECT_EQ(bus.unit_status(1)->write_pointer, address + row.echo_offset) << row.name;
        address += 0x100;
    }
}

TEST_F(UnitBehaviour, norFlash_writeOverUnerasedByteIsRecorded) {
    bus.remove_unit(2);
    bus.remove_unit(3);
    EXPECT_EQ(bus.flash_bytes(1, 0x20000, 4), (V{0xFF, 0xFF, 0xFF, 0xFF}));
    exchange(0x440 | 1, 4, u32(0x20000));
    exchange(0x420, 5, {0xF0, 0x0F, 0xAA, 0x01, 0xAA});  // UID 0: every unit
    EXPECT_EQ(bus.unit_status(1)->flash_faults.unerased_writes, 0u);
    exchange(0x440 | 1, 4, u32(0x20000));
    exchange(0x420 | 1, 5, {0xF0, 0xFF, 0x0A, 0x00, 0x55});  // bytes 1 and 4 need bits set
    const auto faults = bus.unit_status(1)->flash_faults;
    EXPECT_EQ(faults.unerased_writes, 2u);
    EXPECT_EQ(faults.first_unerased_address, 0x20001u);
    EXPECT_EQ(bus.flash_bytes(1, 0x20000, 5), (V{0xF0, 0x0F, 0x0A, 0x00, 0x00}));  // old & new, as NOR cells end up

    const auto erase = exchange(0x430 | 1, 6, {0xBE, 7, 0, 0, 2, 0});
    ASSERT_EQ(erase.size(), 2u);
    EXPECT_EQ(erase[0].identifier(), 0x0E1u);
    EXPECT_EQ(payload(erase[0]), (V{1, 0x31, 0x04, 1, 7, 0, 0}));  // the sequenced ack comes first
    EXPECT_EQ(erase[1].identifier(), 0x0F1u);
    EXPECT_EQ(payload(erase[1]), cat({{1, 0xBE}, u32(0x20000), {1}}));
    EXPECT_EQ(bus.flash_bytes(1, 0x20000, 4), (V{0xFF, 0xFF, 0xFF, 0xFF}));
}

// Work done twice is counted since the last forget_flash_history(), so a
// check can cover one upload and its resumption among many to the same blocks.
TEST_F(UnitBehaviour, flashWorkDoneTwice_isCountedSinceForgotten) {
    bus.remove_unit(2);
    bus.remove_unit(3);
    const auto erase_and_write = [&] {
        exchange(0x430 | 1, 6, {0xBE, 7, 0, 0, 2, 0});
        exchange(0x440 | 1, 4, u32(0x20000));
        exchange(0x420 | 1, 5, {0xF0, 0x0F, 0xAA, 0x01, 0xAA});
    };
    const auto twice = [&] {
        const sim::FlashFaults f = bus.unit_status(1)->flash_faults;
        return std::pair{f.repeated_erases, f.chunks_written_again};
    };
    erase_and_write();
    EXPECT_EQ(twice(), (std::pair<std::size_t, std::size_t>{0, 0}));
    erase_and_write();
    EXPECT_EQ(twice(), (std::pair<std::size_t, std::size_t>{1, 1}));
    bus.forget_flash_history();
    EXPECT_EQ(twice(), (std::pair<std::size_t, std::size_t>{0, 0}));
    erase_and_write();
    EXPECT_EQ(twice(), (std::pair<std::size_t, std::size_t>{0, 0}));
    erase_and_write();
    EXPECT_EQ(twice(), (std::pair<std::size_t, std::size_t>{1, 1}));
    EXPECT_EQ(bus.flash_bytes(1, 0x20000, 5), (V{0xF0, 0x0F, 0xAA, 0x01, 0xAA}));
}

TEST_F(UnitBehaviour, flashOutsideTheChip_isRefused) {
    bus.remove_unit(2);
    bus.remove_unit(3);
    const auto set = exchange(0x440 | 1, 4, u32(0x04000000));
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].data()[6], 0);
    exchange(0x440 | 1, 4, u32(0x03FFFFFE));
    const auto write = exchange(0x420 | 1, 4, {1, 2, 3, 4});  // runs 2 bytes past the end
    ASSERT_EQ(write.size(), 1u);
    EXPECT_EQ(payload(write[0]), cat({{1, 0xAA}, u32(0x03FFFFFE), {0}}));
    const auto erase = exchange(0x430 | 1, 6, {0xBE, 1, 0, 0, 0x00, 0x04});  // block 0x400
    ASSERT_EQ(erase.size(), 2u);
    EXPECT_EQ(erase[1].data()[6], 0);
}

TEST_F(UnitBehaviour, prepare_eachUnitNamesItsWriteAddressOrRefuses) {
    ASSERT_TRUE(bus.set_firmware_address(2, 0xFFFFFFFFu));
    ASSERT_TRUE(bus.set_firmware_address(3, 0x00200000u));
    const auto replies = exchange(0x730, 2, {0x24, 0x67});
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].identifier(), 0x731u);
    EXPECT_EQ(replies[0].dlc(), 5);
    EXPECT_EQ(payload(replies[0]), cat({{1}, u32(0x00100000u)}));
    EXPECT_EQ(payload(replies[1]), cat({{2}, u32(0xFFFFFFFFu)}));
    EXPECT_EQ(payload(replies[2]), cat({{3}, u32(0x00200000u)}));
}

TEST_F(UnitBehaviour, airportDatabase_closeOpenAckedAndWritesWhileOpenRecorded) {
    const auto close = exchange(0x450 | 2, 1, {0xDC});
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].identifier(), 0x0E2u);
    EXPECT_EQ(close[0].dlc(), 4);
    EXPECT_EQ(payload(close[0]), (V{2, 0x52, 0x04, 1}));
    EXPECT_FALSE(bus.unit_status(2)->db_open);
    exchange(0x440 | 2, 4, u32(0));
    exchange(0x420 | 2, 1, {0x11});
    EXPECT_EQ(bus.unit_status(2)->flash_faults.open_db_writes, 0u);
    exchange(0x450 | 2, 1, {0xDA});
    EXPECT_TRUE(bus.unit_status(2)->db_open);
    exchange(0x420 | 2, 1, {0x22});
    EXPECT_EQ(bus.unit_status(2)->flash_faults.open_db_writes, 1u);
    EXPECT_EQ(bus.unit_status(2)->flash_faults.first_open_db_address, 1u);
    EXPECT_EQ(payload(exchange(0x450 | 2, 1, {0x00})[0])[3], 0);  // neither open nor close
}

TEST_F(UnitBehaviour, hostFrameLog_recordsExactlyWhatTheHostSent) {
    exchange(0x390, 8, cat({{34}, u32(2), {9, 0, 0}}));
    exchange(0x3A0, 7, cat({u32(0x1234), {10, 0, 0}}));
    const auto frames = bus.host_frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].frame.identifier(), 0x390u);
    EXPECT_EQ(frames[0].frame.data()[0], 34);
    EXPECT_EQ(frames[1].frame.identifier(), 0x3A0u);
    EXPECT_LE(frames[0].at, frames[1].at);
    bus.clear_host_frames();
    EXPECT_EQ(bus.host_frame_count(), 0u);
}

TEST_F(UnitBehaviour, unitsComeAndGoAtRunTime) {
    ASSERT_TRUE(bus.remove_unit(2));
    EXPECT_EQ(exchange(0x010, 2, {0xEF, 0x15}).size(), 2u);
    EXPECT_FALSE(bus.add_unit({3}));   // UID taken
    EXPECT_FALSE(bus.add_unit({16}));  // not a unit address
    ASSERT_TRUE(bus.add_unit({7, 0xD5020007u, 0x02000000u}));
    const auto replies = exchange(0x010, 2, {0xEF, 0x15});
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[2].identifier(), 0x017u);
}

TEST_F(UnitBehaviour, latency_repliesComeFromTheSchedulerInOrder) {
    bus.set_latency(2ms);
    ASSERT_EQ(host.send(0x010, 2, {0xEF, 0x15}), 73);
    for (std::uint32_t uid = 1; uid <= 3; ++uid) {
        const auto f = host.read_frame(2000);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->identifier(), 0x010u | uid);
    }
}

TEST_F(UnitBehaviour, occupancyTimer_sendsReportsUntilStopped) {
    bus.set_occupancy_interval(5ms);
    for (int i = 0; i < 2; ++i) {
        const auto f = host.read_frame(2000);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->data()[0], 'r');
    }
    bus.set_occupancy_interval(0ms);
}

}  // namespace
