// Loading, sending and storing the EFIS configuration over the bus, without
// a window: each operation runs the exchange on the calling thread (blocking
// it for the bus time-outs), keeps the configuration model up to date, and
// says in its result what happened and where it stopped. The window turns
// results into status texts; the soak and the tests read them directly.
//
// The rules it keeps, whatever the bus loses:
//  - a read that gets no reply is tried twice more before it counts as
//    failed, and a setting that still cannot be read stays unknown;
//  - a load that stops at a header word, or is cancelled, leaves the model
//    as it was;
//  - a load stops early once three settings in a row got no reply after
//    their retries: the EFIS stopped answering, and the rest stays unknown;
//  - nothing is stored while any setting is unknown, and a store counts only
//    when the primary unit reads back the checksum that was sent;
//  - an index stays pending until the units acknowledged it (Update) or
//    stored it (the two saves), and every store first sends again whatever
//    was sent since the last confirmed store: after a write that only some
//    units got, the units disagree, and a load reads only one of them.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <set>
#include <vector>

#include "config/config_model.h"
#include "core/config_timeouts.h"

namespace vk61 {
class CommsManager;
}

enum class LoadStatus {
    NotConnected,
    HeaderUnread,  // a header word got no reply; `index` names it
    HeaderErased,  // a header word reads 0xFFFFFFFF: the EFIS holds no stored configuration
    Cancelled,     // the stop flag was set; nothing changed
    Loaded,        // ran to the end; `unread` and `crc_ok` say how well
};

struct LoadResult {
    LoadStatus status = LoadStatus::NotConnected;
    unsigned index = 0;            // the header word that stopped the load
    std::vector<unsigned> unread;  // settings that still failed after their retries, or were not asked
    // The EFIS stopped answering: the load ended before this setting, which
    // and every later one stay unknown. -1 when every setting was asked for.
    int stopped_at = -1;
    bool crc_ok = false;
    std::uint32_t computed_crc = 0;

    // Ran to the end with every setting read (the checksum is crc_ok's to say).
    bool ok() const { return status == LoadStatus::Loaded && unread.empty(); }
};

enum class UpdateStatus { NotConnected, RuleRefused, NothingPending, Sent };

struct UpdateResult {
    UpdateStatus status = UpdateStatus::NotConnected;
    int sent = 0;
    int failed = 0;
    QString refusal;  // RuleRefused: the setting and the rule

    // Every pending index was acknowledged, or none was pending.
    bool ok() const { return status == UpdateStatus::NothingPending || (status == UpdateStatus::Sent && failed == 0); }
};

enum class StoreStatus {
    NotConnected,
    NoDeviceChanges,      // devices tab: nothing of its own to store
    UnknownSettings,      // refused before anything was sent; `unknown` counts them
    RuleRefused,          // refused before anything was sent; `refusal` names the setting and the rule
    MemoryVersionUnread,  // header preparation
    NumElementsUnread,
    WriteFailed,       // `index` was not acknowledged; nothing was stored, and what this
                       // store had written was written back (`written_back`, `differing`)
    StoreFailed,       // the store itself was not acknowledged
    ChecksumUnread,    // stored, but the checksum could not be read back
    ChecksumMismatch,  // the primary unit holds `read_back`, not `crc`
    Saved,
};

struct StoreResult {
    StoreStatus status = StoreStatus::NotConnected;
    int index = -1;
    unsigned unknown = 0;
    std::uint32_t crc = 0;
    std::uint32_t read_back = 0;
    QString refusal;
    // WriteFailed: the indices written before the failure and written back to
    // the values read before, and those whose write-back failed too (their
    // working values now differ from what the units stored).
    std::vector<int> written_back;
    std::vector<int> differing;

    bool ok() const { return status == StoreStatus::Saved; }
};

// The whole result as one sentence, as the command-line tool prints it:
// "The EFIS did not answer the read of header word 2", "Setting ... was not
// acknowledged; nothing was stored", or the success ("Configuration saved to
// EEPROM successfully"). The window's status texts are its own
// (app/result_text.h).
QString describe(const LoadResult& result);
QString describe(const UpdateResult& result);
QString describe(const StoreResult& result);

class ConfigExchange {
public:
    // stop, when given, cancels a load between two reads (the running read
    // ends within its time-out); stores are never cut short by it.
    ConfigExchange(vk61::CommsManager* comms, vk61::ConfigModel& model, const ConfigTimeouts& timeouts,
                   const std::atomic<bool>* stop = nullptr);

    // Reads the four header words, then settings 0-39, one at a time.
    // Settings that got no reply stay unknown; after kSilentSettingsLimit of
    // them in a row the EFIS is taken as silent and the rest are not asked.
    LoadResult load();
    // Sends every pending index in ascending order; failures stay pending.
    UpdateResult update();
    // The settings tab's save: refuses while a setting is unknown, then sends
    // every pending index, stores, and reads the checksum back. The caller
    // collects the form into the model first.
    StoreResult save_settings();
    // The devices tab's save: the same, with the per-unit options first
    // (34, then 36-39) and only when one of them is pending.
    StoreResult save_device_options();
    // A first configuration for an EFIS whose EEPROM is erased: every header
    // word (magic, memory_version, 35 elements) and every setting of record
    // is written, then stored, and the checksum read back. The model then
    // holds record as stored.
    StoreResult store_first_configuration(const vk61::ConfigRecord& record, std::uint32_t memory_version);

    // The indices a store sends before it stores, in the order it sends them:
    // the pending edits and whatever was sent since the last confirmed store
    // (the units may disagree about those); the devices tab's own options
    // first when device_options.
    std::vector<int> store_order(bool device_options) const;

    // Reads one element of the primary unit, trying twice more when no reply
    // comes. Each try waits up to the read time-out.
    bool read_with_retry(unsigned index, std::uint32_t* value);

private:
    StoreResult store(const std::vector<int>& order, bool print_crc);
    // After a failed write: every index of written back to its value as read.
    void write_back(const std::vector<int>& written, StoreResult& result);
    // After every write was acknowledged: stores result.crc and reads the
    // checksum back; on a match indices are stored in the model and result
    // is Saved.
    void store_and_verify(const std::set<int>& indices, StoreResult& result);
    // The rules of what may be stored, checked on what would go out.
    QString refusal() const;
    bool connected() const;
    // One setting or header word to the units.
    bool write(int index, std::uint32_t value);
    bool stop_requested() const { return stop_ != nullptr && stop_->load(); }

    vk61::CommsManager* comms_;
    vk61::ConfigModel& model_;
    ConfigTimeouts timeouts_;
    const std::atomic<bool>* stop_;
};

// Settings in a row without a reply (after their retries) that end a load.
inline constexpr unsigned kSilentSettingsLimit = 3;
