#include "settings_soak.h"

#include <QtGlobal>

#include <chrono>
#include <vector>

#include "config/record_rules.h"
#include "core/config_exchange.h"
#include "config_image.h"
#include "fault.h"

namespace soak {

namespace {

using namespace std::chrono_literals;

// Short time-outs: a lost reply costs one of them, and the soak loses many.
constexpr ConfigTimeouts kTimeouts{50, 200, 500};

// The exchange's diagnostic messages are the window's business; here they
// would only bury the report.
void quiet_messages(QtMsgType, const QMessageLogContext&, const QString&) {}

const char* load_name(LoadStatus status) {
    switch (status) {
    case LoadStatus::NotConnected: return "load: not connected";
    case LoadStatus::HeaderUnread: return "load: header unread";
    case LoadStatus::HeaderErased: return "load: header erased";
    case LoadStatus::Cancelled: return "load: cancelled";
    case LoadStatus::Loaded: return "load: loaded";
    }
    return "load: ?";
}

const char* store_name(StoreStatus status) {
    switch (status) {
    case StoreStatus::NotConnected: return "save: not connected";
    case StoreStatus::NoDeviceChanges: return "save: no device changes";
    case StoreStatus::UnknownSettings: return "save: refused, settings unknown";
    case StoreStatus::RuleRefused: return "save: refused by a rule";
    case StoreStatus::MemoryVersionUnread: return "save: memory version unread";
    case StoreStatus::NumElementsUnread: return "save: num_elements unread";
    case StoreStatus::WriteFailed: return "save: write failed";
    case StoreStatus::StoreFailed: return "save: store failed";
    case StoreStatus::ChecksumUnread: return "save: checksum not read back";
    case StoreStatus::ChecksumMismatch: return "save: checksum mismatch";
    case StoreStatus::Saved: return "save: saved";
    }
    return "save: ?";
}

// A value for index drawn across the whole record range: anything the field
// holds (narrow fields get values that fit, so what the tool holds and what a
// unit holds can be compared), folded by the whole-record rules so that no
// store is refused.
std::uint32_t value_for(unsigned index, SoakRandom& random) {
    std::uint32_t word = random.word();
    if (index >= 1 && index <= 8) word &= 0xFFu;                                   // speeds
    if (index == 9 || index == 10 || index == 27 || index == 28) word &= 0xFFFFu;  // tenths of a volt
    return vk61::within_record_rules(index, word);
}

// Every setting.
const std::vector<unsigned> kEditable = [] {
    std::vector<unsigned> all;
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) all.push_back(index);
    return all;
}();

}  // namespace

SettingsSoak::SettingsSoak(const SoakOptions& options, std::FILE* out)
    : options_(options),
      out_(out),
      random_(options.seed ^ 0x5E771465ull),
      rig_(options.units, std::chrono::microseconds(options.latency_us)) {}

bool SettingsSoak::run() {
    const QtMessageHandler previous = qInstallMessageHandler(&quiet_messages);
    std::fprintf(out_, "settings: %u operations, lost reads, writes, acknowledgements and stores\n",
                 options_.settings_operations);
    std::string problem;
    if (!rig_.connect(&problem)) {
        std::fprintf(out_, "settings set-up failed: %s\n", problem.c_str());
        qInstallMessageHandler(previous);
        return false;
    }
    for (std::uint8_t uid : rig_.uids()) {
        const sim::ConfigImage image = *rig_.bus().eeprom_image(uid);
        for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
            allowed_[index].insert(*sim::config_element(image, index));
        }
        allowed_checksums_.insert(*sim::config_element(image, 252));
    }

    for (unsigned i = 1; i <= options_.settings_operations; ++i) run_operation(i);

    std::fprintf(out_, "settings outcomes:");
    for (const auto& [name, count] : outcomes_) std::fprintf(out_, " %s %u;", name.c_str(), count);
    std::fprintf(out_, "\nsettings faults planned: %u\nsettings invariant breaches: %u\n", faults_planned_, breaches_);
    qInstallMessageHandler(previous);
    return breaches_ == 0;
}

void SettingsSoak::plan_faults(std::string* described) {
    const unsigned count = static_cast<unsigned>(random_.between(0, options_.max_faults));
    for (unsigned f = 0; f < count; ++f) {
        const std::uint8_t uid = random_.percent(50) ? 0 : random_.pick(rig_.uids());
        sim::Fault fault;
        switch (random_.between(0, 4)) {
        case 0: {  // replies to a read lost, up to every try
            const unsigned index = random_.percent(15) ? static_cast<unsigned>(random_.between(252, 255))
                                                       : static_cast<unsigned>(random_.between(0, 39));
            fault = {sim::FaultKind::Drop,
                     sim::ReplyKind::SettingReply,
                     0x370,
                     0,
                     0,
                     static_cast<unsigned>(random_.between(1, 4)),
                     0,
                     static_cast<int>(index)};
            *described += " lost-read(" + std::to_string(index) + "x" + std::to_string(fault.times) + ")";
            break;
        }
        case 1: {  // a write lost before one unit or all, mostly of a pending edit
            const std::vector<int> pending(model_.pending().begin(), model_.pending().end());
            const unsigned index = !pending.empty() && random_.percent(80)
                                       ? static_cast<unsigned>(random_.pick(pending))
                                       : random_.pick(kEditable);
            fault = {sim::FaultKind::LoseHostFrame, sim::ReplyKind::Any, 0x390, uid, 0, 1, 0, static_cast<int>(index)};
            *described += " lost-write(" + std::to_string(index) + ",uid" + std::to_string(uid) + ")";
            break;
        }
        case 2:  // a write acknowledgement lost
            fault = {sim::FaultKind::Drop,
                     sim::ReplyKind::SequencedAck,
                     0x390,
                     uid,
                     static_cast<unsigned>(random_.between(0, 2)),
                     1};
            *described += " lost-write-ack(uid" + std::to_string(uid) + ")";
            break;
        case 3:  // the store lost before one unit or all
            fault = {sim::FaultKind::LoseHostFrame, sim::ReplyKind::Any, 0x3A0, uid, 0, 1};
            *described += " lost-store(uid" + std::to_string(uid) + ")";
            break;
        default:  // a store acknowledgement lost
            fault = {sim::FaultKind::Drop, sim::ReplyKind::SequencedAck, 0x3A0, uid, 0, 1};
            *described += " lost-store-ack(uid" + std::to_string(uid) + ")";
            break;
        }
        rig_.bus().add_fault(fault);
        ++faults_planned_;
    }
}

void SettingsSoak::edit_some() {
    const unsigned edits = static_cast<unsigned>(random_.between(1, 3));
    for (unsigned e = 0; e < edits; ++e) {
        const unsigned index = random_.pick(kEditable);
        model_.edit(static_cast<int>(index), value_for(index, random_));
    }
}

void SettingsSoak::note_model_values() {
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
        if (model_.is_known(index) && model_.pending().count(static_cast<int>(index)) == 0) {
            allowed_[index].insert(model_.value(index));
        }
    }
}

void SettingsSoak::run_operation(unsigned index) {
    const std::uint64_t pick = random_.between(0, 99);
    const Step step = pick < 25   ? Step::Load
                      : pick < 45 ? Step::Edit
                      : pick < 60 ? Step::Update
                      : pick < 85 ? Step::Save
                                  : Step::SaveDevices;
    std::string faults;
    if (step != Step::Edit) plan_faults(&faults);

    ConfigExchange exchange(&rig_.comms(), model_, kTimeouts);
    std::string outcome;
    bool saved = false;
    std::uint32_t saved_crc = 0;
    switch (step) {
    case Step::Load: {
        const LoadResult result = exchange.load();
        outcome = load_name(result.status);
        if (result.status == LoadStatus::Loaded && !result.unread.empty()) outcome += " with unread settings";
        // Whatever a load stored in the model, it read.
        if (result.status == LoadStatus::Loaded) note_model_values();
        break;
    }
    case Step::Edit:
        edit_some();
        outcome = "edit";
        break;
    case Step::Update: {
        const std::set<int> before = model_.pending();
        const UpdateResult result = exchange.update();
        outcome = result.failed > 0 ? "update: some failed" : "update: sent or nothing";
        for (const int sent : before) {
            if (model_.pending().count(sent) == 0) allowed_[static_cast<unsigned>(sent)].insert(model_.value(sent));
        }
        break;
    }
    case Step::Save:
    case Step::SaveDevices: {
        if (step == Step::SaveDevices && random_.percent(70)) {
            model_.edit(34, value_for(34, random_));
        }
        const std::vector<int> order = exchange.store_order(step == Step::SaveDevices);
        std::map<int, std::uint32_t> values;
        for (const int i : order) values[i] = model_.value(static_cast<unsigned>(i));
        const StoreResult result = step == Step::Save ? exchange.save_settings() : exchange.save_device_options();
        outcome = store_name(result.status);
        const bool writes_done = result.status == StoreStatus::StoreFailed ||
                                 result.status == StoreStatus::ChecksumUnread ||
                                 result.status == StoreStatus::ChecksumMismatch || result.status == StoreStatus::Saved;
        // The writes before the one that failed were acknowledged; all of
        // them when the save got to the store.
        if (writes_done || result.status == StoreStatus::WriteFailed) {
            for (const int i : order) {
                if (!writes_done && i == result.index) break;
                allowed_[static_cast<unsigned>(i)].insert(values[i]);
            }
        }
        if (writes_done) allowed_checksums_.insert(result.crc);
        saved = result.status == StoreStatus::Saved;
        saved_crc = result.crc;
        break;
    }
    }
    rig_.bus().clear_faults();

    std::string problem;
    if (!check_units(saved, &problem)) {
        ++breaches_;
        std::fprintf(out_, "settings %u BREACH (%s;%s): %s\n", index, outcome.c_str(), faults.c_str(), problem.c_str());
    } else if (saved && model_.device_checksum() != saved_crc) {
        ++breaches_;
        std::fprintf(out_, "settings %u BREACH: saved, but the tool keeps checksum 0x%08X, not 0x%08X\n", index,
                     model_.device_checksum(), saved_crc);
    } else if (!options_.quiet) {
        std::fprintf(out_, "settings %u: %s;%s\n", index, outcome.c_str(), faults.c_str());
    }
    ++outcomes_[outcome];
}

bool SettingsSoak::check_units(bool saved, std::string* problem) {
    for (std::uint8_t uid : rig_.uids()) {
        const sim::ConfigImage image = *rig_.bus().eeprom_image(uid);
        const std::uint32_t stored = *sim::config_element(image, 252);
        if (stored != sim::config_image_crc(image)) {
            *problem = "UID " + std::to_string(uid) + " stored checksum does not match its record";
            return false;
        }
        if (allowed_checksums_.count(stored) == 0) {
            *problem = "UID " + std::to_string(uid) + " holds a checksum the tool never sent";
            return false;
        }
        for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
            const std::uint32_t value = *sim::config_element(image, index);
            if (allowed_[index].count(value) == 0) {
                *problem = "UID " + std::to_string(uid) + " stored setting " + std::to_string(index) + " = " +
                           std::to_string(value) + ", which the tool neither read nor got acknowledged";
                return false;
            }
            if (saved && value != model_.value(index)) {
                *problem = "after a save UID " + std::to_string(uid) + " holds setting " + std::to_string(index) +
                           " = " + std::to_string(value) + ", the tool " + std::to_string(model_.value(index));
                return false;
            }
        }
    }
    return true;
}

}  // namespace soak
