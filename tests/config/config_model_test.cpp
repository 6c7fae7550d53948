// The configuration model: which settings are known, what stays pending,
// and that a failed load or write never leaves a value nobody read or chose
// where a store could pick it up.
#include <gtest/gtest.h>

#include "config_model.h"

namespace {

using vk61::ConfigModel;

// A complete load of a record whose settings hold index * 3 (checksum as
// given, header words plausible).
void loadAll(ConfigModel& model, std::uint32_t checksum = 0x1234, unsigned skip = 99) {
    model.begin_load();
    model.load_header(vk61::kIndexChecksum, checksum);
    model.load_header(vk61::kIndexMagic, vk61::ConfigRecord::kMagic);
    model.load_header(vk61::kIndexMemoryVersion, 7);
    model.load_header(vk61::kIndexNumElements, 35);
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
        if (index == skip) continue;
        ASSERT_TRUE(model.load_setting(index, index * 3));
    }
    model.finish_load();
}

TEST(ConfigModel, nothingIsKnownBeforeTheFirstLoad) {
    ConfigModel model;
    EXPECT_EQ(model.unknown_count(), vk61::kSettingCount);
    // An edit is the user's choice: known and pending from then on.
    ASSERT_TRUE(model.edit(6, 200));
    EXPECT_TRUE(model.is_known(6));
    EXPECT_EQ(model.unknown_count(), vk61::kSettingCount - 1);
    EXPECT_EQ(model.pending(), std::set<int>{6});
    EXPECT_FALSE(model.edit(40, 1));
    EXPECT_FALSE(model.edit(-1, 1));
    EXPECT_EQ(model.pending(), std::set<int>{6});
}

TEST(ConfigModel, aSettingThatWasNotReadStaysUnknownAndIsNeverCollected) {
    ConfigModel model;
    loadAll(model, 0x1234, 14);
    EXPECT_FALSE(model.is_known(14));
    EXPECT_EQ(model.unknown_settings(), std::vector<unsigned>{14});
    EXPECT_EQ(model.value(14), 0u);

    // Collecting the form offers a value for every widget; the unknown
    // setting keeps its place empty and is not made pending.
    EXPECT_FALSE(model.collect(14, 0xFF000000u));
    EXPECT_TRUE(model.collect(9, 9 * 3));  // unchanged: not pending
    EXPECT_TRUE(model.collect(6, 240));    // changed: pending
    EXPECT_EQ(model.value(14), 0u);
    EXPECT_EQ(model.pending(), std::set<int>{6});

    // A later load that reads it makes it known again.
    loadAll(model);
    EXPECT_EQ(model.unknown_count(), 0u);
    EXPECT_TRUE(model.pending().empty());
}

TEST(ConfigModel, aLoadThatStopsAtAHeaderWordLeavesEverythingAsItWas) {
    ConfigModel model;
    loadAll(model, 0xCAFE);
    ASSERT_TRUE(model.edit(34, 0x12));
    const vk61::ConfigRecord before = model.record();

    model.begin_load();
    model.load_header(vk61::kIndexChecksum, 0x1111);  // then the magic read fails
    model.abandon_load();

    EXPECT_EQ(model.record().bytes, before.bytes);
    EXPECT_EQ(model.device_checksum(), 0xCAFEu);
    EXPECT_EQ(model.pending(), std::set<int>{34});
    EXPECT_TRUE(model.has_device_changes());
    EXPECT_EQ(model.unknown_count(), 0u);

    // With no earlier load there is nothing to go back to: all unknown.
    ConfigModel fresh;
    fresh.begin_load();
    fresh.load_header(vk61::kIndexChecksum, 0x1111);
    fresh.abandon_load();
    EXPECT_EQ(fresh.unknown_count(), vk61::kSettingCount);
    EXPECT_EQ(fresh.device_checksum(), 0u);
}

TEST(ConfigModel, pendingIndicesLeaveOnlyWhenAcknowledgedOrStored) {
    ConfigModel model;
    loadAll(model);
    ASSERT_TRUE(model.edit(6, 180));
    ASSERT_TRUE(model.edit(1, 40));

    // Update: both went out, only index 1 was acknowledged.
    model.sent(1);
    model.acknowledged_without_store(1);
    model.sent(6);
    EXPECT_EQ(model.pending(), std::set<int>{6});
    // The next store sends both again: index 6 may have reached some units
    // only, and it costs little to send index 1 with it.
    EXPECT_EQ(model.to_store(), (std::set<int>{1, 6}));

    const std::uint32_t crc = model.prepare_store(9, 35);
    EXPECT_EQ(model.record().memory_version(), 9u);
    EXPECT_EQ(model.record().magic(), vk61::ConfigRecord::kMagic);
    EXPECT_EQ(crc, vk61::config_crc(model.record()));
    model.stored(crc, model.to_store());
    EXPECT_TRUE(model.pending().empty());
    EXPECT_TRUE(model.to_store().empty());
    EXPECT_EQ(model.device_checksum(), crc);
    EXPECT_EQ(model.record().checksum(), crc);
}

TEST(ConfigModel, indicesSentSinceTheLastStoreAreOwedEvenAfterALoad) {
    // A write only some units got leaves them disagreeing; a load reads one
    // of them, so the next store must send the index again.
    ConfigModel model;
    loadAll(model);
    ASSERT_TRUE(model.edit(6, 180));
    model.sent(6);  // not acknowledged
    loadAll(model);
    EXPECT_TRUE(model.pending().empty());
    EXPECT_EQ(model.to_store(), std::set<int>{6});

    model.begin_load();
    model.abandon_load();
    EXPECT_EQ(model.to_store(), std::set<int>{6});

    model.stored(model.prepare_store(7, 35), model.to_store());
    loadAll(model);
    EXPECT_TRUE(model.to_store().empty());
}

TEST(ConfigModel, deviceOptions) {
    for (const int index : {34, 36, 37, 38, 39}) EXPECT_TRUE(vk61::is_device_option(index)) << index;
    for (const int index : {0, 33, 35, 40, 252}) EXPECT_FALSE(vk61::is_device_option(index)) << index;
}

// What a backup or an export holds: the units' configuration, never the
// form's edits, and nothing after a load that left settings unknown.
TEST(ConfigModel, confirmedRecordIsWhatTheUnitsHold) {
    ConfigModel model;
    EXPECT_FALSE(model.confirmed());
    loadAll(model);
    ASSERT_TRUE(model.confirmed());
    const vk61::ConfigRecord loaded = *model.confirmed();
    EXPECT_EQ(loaded.bytes, model.record().bytes);

    ASSERT_TRUE(model.edit(6, 201));
    EXPECT_EQ(model.confirmed()->bytes, loaded.bytes);  // edits are not the units'

    const std::uint32_t crc = model.prepare_store(7, 35);
    model.stored(crc, model.to_store());
    ASSERT_TRUE(model.confirmed());
    EXPECT_EQ(vk61::config_get_value(*model.confirmed(), 6), 201u);
    EXPECT_EQ(model.confirmed()->checksum(), crc);

    loadAll(model, 0x1234, 20);  // incomplete
    EXPECT_FALSE(model.confirmed());
}

}  // namespace
