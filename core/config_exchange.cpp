#include "core/config_exchange.h"

#include <QDebug>
#include <QString>
#include <QThread>

#include "comms_manager.h"
#include "config/record_rules.h"
#include "debug_log.h"

namespace {

constexpr int kReadTries = 3;  // one read and two retries
constexpr unsigned long kPauseBetweenReadsMs = 1;
constexpr unsigned long kPauseBetweenWritesMs = 1;
constexpr std::uint32_t kErased = 0xFFFFFFFFu;

constexpr unsigned kHeaderIndices[] = {vk61::kIndexChecksum, vk61::kIndexMagic, vk61::kIndexMemoryVersion,
                                       vk61::kIndexNumElements};

QString hexText(std::uint32_t value) { return QString::number(value, 16); }

}  // namespace

ConfigExchange::ConfigExchange(vk61::CommsManager* comms, vk61::ConfigModel& model, const ConfigTimeouts& timeouts,
                               const std::atomic<bool>* stop)
    : comms_(comms), model_(model), timeouts_(timeouts), stop_(stop) {}

bool ConfigExchange::connected() const { return comms_ != nullptr && comms_->is_connected(); }

bool ConfigExchange::read_with_retry(unsigned index, std::uint32_t* value) {
    for (int attempt = 0; attempt < kReadTries; ++attempt) {
        if (!connected() || stop_requested()) return false;
        if (comms_->read_setting_value(static_cast<std::uint8_t>(index), timeouts_.read_ms, value)) return true;
    }
    return false;
}

// Blocks for up to the write time-out; true when every unit acknowledged.
bool ConfigExchange::write(int index, std::uint32_t value) {
    return comms_->write_setting(static_cast<std::uint8_t>(index), value, timeouts_.write_ms).ok();
}

// Blocks for 44 sequential reads of up to three read time-outs each, with a
// 1 ms pause after each setting read; an EFIS that stops answering ends it
// after three silent settings (nine read time-outs).
LoadResult ConfigExchange::load() {
    LoadResult result;
    if (!connected()) return result;

    model_.begin_load();
    const auto cancelled = [&] {
        model_.abandon_load();
        result.status = LoadStatus::Cancelled;
        return result;
    };
    for (const unsigned index : kHeaderIndices) {
        if (stop_requested()) return cancelled();
        std::uint32_t value = 0;
        if (!read_with_retry(index, &value)) {
            model_.abandon_load();
            result.status = LoadStatus::HeaderUnread;
            result.index = index;
            return result;
        }
        // An erased EEPROM answers with all ones: there is no record to load,
        // and a record built from it could only ever be wrong.
        if (value == kErased) {
            model_.abandon_load();
            result.status = LoadStatus::HeaderErased;
            result.index = index;
            return result;
        }
        model_.load_header(index, value);
    }

    // Settings may legitimately hold 0xFFFFFFFF (opaque white), so they are
    // read with the call that tells that value from a failed read.
    unsigned silent_in_a_row = 0;
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
        if (stop_requested()) return cancelled();
        if (silent_in_a_row == kSilentSettingsLimit) {
            // Each further read would cost three time-outs for nothing.
            qDebug() << "The EFIS stopped answering; settings from index" << index << "on are not read";
            result.stopped_at = static_cast<int>(index);
            for (unsigned rest = index; rest < vk61::kSettingCount; ++rest) result.unread.push_back(rest);
            break;
        }
        std::uint32_t value = 0;
        if (read_with_retry(index, &value)) {
            model_.load_setting(index, value);
            silent_in_a_row = 0;
        } else {
            qDebug() << "Warning: Failed to read value for index" << index << ", setting to 0";
            result.unread.push_back(index);
            ++silent_in_a_row;
        }
        if (index + 1 < vk61::kSettingCount) QThread::msleep(kPauseBetweenReadsMs);
    }
    if (stop_requested()) return cancelled();
    model_.finish_load();

    result.status = LoadStatus::Loaded;
    result.computed_crc = vk61::config_crc(model_.record());
    const std::uint32_t stored = model_.device_checksum();
    vk61::debug_log("app: 0x%08lX, device: 0x%08lX \n", static_cast<unsigned long>(result.computed_crc),
                    static_cast<unsigned long>(stored));
    result.crc_ok = result.computed_crc == stored;
    if (result.crc_ok) {
        vk61::debug_log("CRC Check Passed.\n");
    } else {
        qDebug() << "CRC mismatch: Calculated =" << hexText(result.computed_crc) << "Stored=" << hexText(stored);
    }
    return result;
}

// Blocks for one write of up to the write time-out per pending index, one at
// a time in ascending order, with a 1 ms pause after each.
UpdateResult ConfigExchange::update() {
    UpdateResult result;
    if (!connected()) return result;
    if (model_.pending().empty()) {
        result.status = UpdateStatus::NothingPending;
        return result;
    }
    result.refusal = refusal();
    if (!result.refusal.isEmpty()) {
        result.status = UpdateStatus::RuleRefused;
        return result;
    }
    result.status = UpdateStatus::Sent;
    const std::set<int> to_send = model_.pending();
    for (const int index : to_send) {
        const bool ok = write(index, model_.value(static_cast<unsigned>(index)));
        model_.sent(index);
        if (ok) {
            ++result.sent;
            model_.acknowledged_without_store(index);
        } else {
            // Some units may hold the value and some not: it stays pending,
            // so the next Update or Save sends it again.
            ++result.failed;
            qDebug() << "Failed to send value for index" << index;
        }
        QThread::msleep(kPauseBetweenWritesMs);
    }
    return result;
}

QString ConfigExchange::refusal() const {
    const auto& confirmed = model_.confirmed();
    const auto refused =
        vk61::check_store(model_.record(), confirmed ? &*confirmed : nullptr, vk61::ValueRange::Record);
    return refused ? refused->message : QString();
}

std::vector<int> ConfigExchange::store_order(bool device_options) const {
    const std::set<int> owed = model_.to_store();
    if (!device_options) return std::vector<int>(owed.begin(), owed.end());
    // The devices tab's own options first; then, since the store's checksum
    // covers the whole record, whatever else the units are owed.
    std::vector<int> order;
    for (const int index : owed) {
        if (vk61::is_device_option(index)) order.push_back(index);
    }
    for (const int index : owed) {
        if (!vk61::is_device_option(index)) order.push_back(index);
    }
    return order;
}

StoreResult ConfigExchange::save_settings() { return store(store_order(false), true); }

StoreResult ConfigExchange::save_device_options() {
    if (connected() && !model_.has_device_changes()) {
        StoreResult result;
        result.status = StoreStatus::NoDeviceChanges;
        return result;
    }
    return store(store_order(true), false);
}

// Blocks for 43 writes, the store and the read-back of the checksum, each up
// to its time-out. An erased unit holds nothing to go back to, so a failed
// write is not written back.
StoreResult ConfigExchange::store_first_configuration(const vk61::ConfigRecord& record, std::uint32_t memory_version) {
    StoreResult result;
    if (!connected()) return result;
    if (const auto refused = vk61::check_store(record, nullptr, vk61::ValueRange::Record)) {
        result.status = StoreStatus::RuleRefused;
        result.refusal = refused->message;
        return result;
    }
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
        model_.edit(static_cast<int>(index), vk61::config_get_value(record, index));
    }
    result.crc = model_.prepare_store(memory_version, vk61::ConfigRecord::kCoveredWords);
    std::vector<int> order = {static_cast<int>(vk61::kIndexMagic), static_cast<int>(vk61::kIndexMemoryVersion),
                              static_cast<int>(vk61::kIndexNumElements)};
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) order.push_back(static_cast<int>(index));
    for (const int index : order) {
        const bool ok = write(index, vk61::config_get_value(model_.record(), static_cast<unsigned>(index)));
        QThread::msleep(kPauseBetweenWritesMs);
        if (!ok) {
            result.status = StoreStatus::WriteFailed;
            result.index = index;
            return result;
        }
    }
    store_and_verify(model_.pending(), result);
    return result;
}

// Blocks for one write of up to the write time-out per index. The units'
// working memory would otherwise keep half of a change that was never
// stored, and the next store of anything would store it with it.
void ConfigExchange::write_back(const std::vector<int>& written, StoreResult& result) {
    const auto& before = model_.confirmed();
    for (const int index : written) {
        // Without a complete record as read there is nothing to go back to.
        const bool ok = before.has_value() && connected() &&
                        write(index, vk61::config_get_value(*before, static_cast<unsigned>(index)));
        // The index stays owed to the next store either way: the record may
        // hold an edit (or an earlier Update's value) the units now lack.
        if (ok) {
            result.written_back.push_back(index);
        } else {
            qDebug() << "Failed to write back the value for index" << index;
            result.differing.push_back(index);
        }
        QThread::msleep(kPauseBetweenWritesMs);
    }
}

// Blocks for two header reads, one write per index of order and the store,
// each up to its time-out, then the read-back of the checksum.
StoreResult ConfigExchange::store(const std::vector<int>& order, bool print_crc) {
    StoreResult result;
    if (!connected()) return result;
    if (model_.unknown_count() > 0) {
        result.status = StoreStatus::UnknownSettings;
        result.unknown = model_.unknown_count();
        return result;
    }
    result.refusal = refusal();
    if (!result.refusal.isEmpty()) {
        result.status = StoreStatus::RuleRefused;
        return result;
    }

    std::uint32_t memory_version = 0;
    if (!read_with_retry(vk61::kIndexMemoryVersion, &memory_version) || memory_version == kErased) {
        result.status = StoreStatus::MemoryVersionUnread;
        return result;
    }
    std::uint32_t num_elements = 0;
    if (!read_with_retry(vk61::kIndexNumElements, &num_elements) || num_elements == kErased) {
        result.status = StoreStatus::NumElementsUnread;
        return result;
    }
    result.crc = model_.prepare_store(memory_version, num_elements);
    if (print_crc) vk61::debug_log("New CRC %08X\n", result.crc);

    std::vector<int> written;
    for (const int index : order) {
        const bool ok = write(index, model_.value(static_cast<unsigned>(index)));
        model_.sent(index);
        QThread::msleep(kPauseBetweenWritesMs);
        if (!ok) {
            result.status = StoreStatus::WriteFailed;
            result.index = index;
            write_back(written, result);
            return result;
        }
        written.push_back(index);
    }

    store_and_verify(std::set<int>(order.begin(), order.end()), result);
    return result;
}

// Blocks for the store and the read-back of the checksum, each up to its
// time-out. The acknowledgements say the units took the command; the checksum
// they now report says what they stored, and only that settles indices.
void ConfigExchange::store_and_verify(const std::set<int>& indices, StoreResult& result) {
    if (!comms_->save_user_settings(result.crc, timeouts_.store_ms)) {
        result.status = StoreStatus::StoreFailed;
        return;
    }
    if (!read_with_retry(vk61::kIndexChecksum, &result.read_back)) {
        result.status = StoreStatus::ChecksumUnread;
        return;
    }
    if (result.read_back != result.crc) {
        result.status = StoreStatus::ChecksumMismatch;
        return;
    }
    model_.stored(result.crc, indices);
    result.status = StoreStatus::Saved;
}
