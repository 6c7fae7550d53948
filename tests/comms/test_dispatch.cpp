// Which received frames reach which handler, and the trace of frames that
// arrive while a setting read waits.
#include <future>

#include "comms_test_support.h"

namespace commstest {
namespace {

using DispatchTest = CommsFixture;

struct RouteCase {
    const char* name;
    std::uint32_t identifier;
    std::uint8_t dlc;
    std::vector<std::uint8_t> data;
    std::string expected_line;   // empty: the frame must leave no trace
    std::size_t registry_after;  // units on the bus are 1 and 2
};

TEST_F(DispatchTest, framesReachTheirHandlerByBaseAndAcceptedLength) {
    connect_units(2);
    const std::vector<std::uint8_t> whoami_new = bytes_of({le32(0xAB0C0D0E), le32(0x01000000), {7, 0, 0, 0}});
    const RouteCase cases[] = {
        {"0x385 is a setting reply",
         0x385,
         6,
         {5, 0x07, 9, 0, 0, 0},
         "settings_rx: got can=0x385 uid=5 index=0x07 value=0x00000009 but no wait active\n",
         2},
        {"0x38F is a setting reply",
         0x38F,
         6,
         {15, 0x08, 1, 2, 3, 4},
         "settings_rx: got can=0x38F uid=15 index=0x08 value=0x04030201 but no wait active\n",
         2},
        {"0x390 has no handler", 0x390, 8, {5, 0x07, 9, 0, 0, 0, 1, 0}, "", 2},
        {"WHOAMI reply with DLC 8 is dropped", 0x017, 8, whoami_new, "", 2},
        {"WHOAMI reply with DLC 9 is handled", 0x017, 9, whoami_new,
         "WHOAMI: device 0xAB0C0D0E UID 0x07 firmware 1.0.0 (rc 0)\n", 3},
        {"0x790 DLC 9 with data[0] 0x10 is dropped", 0x790, 9, {0x10, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0}, "", 3},
        {"occupancy report with DLC 8 is dropped", 0x790, 8, {0x72, 0x06, 0, 0, 0, 0x06, 0, 0}, "", 3},
        {"client information for UID 0 is handled", 0x790, 9, bytes_of({{0}, le32(0xC3990000), le32(0x01020300)}), "",
         4},
    };
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        inject(c.identifier, c.dlc, c.data);
        settle();
        const auto lines = log.lines();
        ASSERT_GE(lines.size(), 1u);
        // Everything before the marker line came from the injected frame.
        const std::vector<std::string> caused(lines.begin(), lines.end() - 1);
        if (c.expected_line.empty()) {
            EXPECT_TRUE(caused.empty()) << caused.front();
        } else {
            EXPECT_EQ(caused, std::vector<std::string>{c.expected_line});
        }
        EXPECT_EQ(comms->device_snapshot().size(), c.registry_after);
        EXPECT_TRUE(sent(0x790).empty()) << "no occupancy report may have been taken";
    }
}

TEST_F(DispatchTest, framesAreTracedOnlyWhileASettingReadWaits) {
    connect_units(1);
    inject(0x555, 2, {7, 9});
    settle();
    EXPECT_EQ(log.count_prefix("rx: "), 0u);

    // Index 0x64 is no element: the unit stays silent and the read waits.
    std::uint32_t value = 0;
    auto read = std::async(std::launch::async, [&] { return comms->read_setting_value(0x64, 5000, &value); });
    ASSERT_TRUE(wait_sent(0x370));
    inject(0x555, 2, {7, 9});
    EXPECT_TRUE(log.wait_exact("rx: can=0x555 base=0x550 dlc=2 data[0]=7 data[1]=9\n"));

    inject(0x381, 6, bytes_of({{1, 0x64}, le32(0x0A0B0C0D)}));
    ASSERT_EQ(read.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_TRUE(read.get());
    EXPECT_EQ(value, 0x0A0B0C0Du);
    EXPECT_EQ(log.count_exact("rx: can=0x381 base=0x380 dlc=6 data[0]=1 data[1]=100\n"), 1u);

    log.clear();
    inject(0x556, 2, {7, 9});
    settle();
    EXPECT_EQ(log.count_prefix("rx: "), 0u);
}

}  // namespace
}  // namespace commstest
