#include "record_rules.h"

#include <bit>

#include "comms/protocol.h"

namespace vk61 {

namespace {

constexpr std::uint8_t kUnitsWithScreens = protocol::kHighestUid + 1;  // a byte for each UID, 0 included

QString name_of(const SettingEntry& entry) {
    return QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

RuleRefusal refusal(const SettingEntry& entry, const QString& rule) {
    return {&entry, QStringLiteral("Setting \"%1\": %2").arg(name_of(entry), rule)};
}

// The rules that look beyond one value's range.
std::optional<RuleRefusal> whole_record_rule(const SettingEntry& entry, const ConfigRecord& record) {
    switch (entry.kind) {
    case SettingKind::TerminationUids: {
        const int terminations = std::popcount(config_get_value(record, entry.first_index));
        if (terminations > kMaxTerminations) {
            return refusal(entry, QStringLiteral("only two devices may have termination enabled at the same time "
                                                 "(%1 are listed)")
                                      .arg(terminations));
        }
        return std::nullopt;
    }
    case SettingKind::DefaultScreens:
        for (std::uint8_t uid = 0; uid < kUnitsWithScreens; ++uid) {
            const unsigned code = record.default_screen(uid);
            if (code >= kDefaultScreenNames.size()) {
                return refusal(entry, QStringLiteral("UID %1: screen code %2 is not in the screen list (0 to %3)")
                                          .arg(uid)
                                          .arg(code)
                                          .arg(kDefaultScreenNames.size() - 1));
            }
        }
        return std::nullopt;
    default: return std::nullopt;
    }
}

}  // namespace

std::uint32_t within_record_rules(unsigned index, std::uint32_t word) {
    const SettingEntry* entry = setting_of_index(index);
    if (entry == nullptr) return word;
    switch (entry->kind) {
    case SettingKind::Degrees: {
        constexpr std::uint32_t kExponent = 0x7F800000u;  // all ones: infinite or NaN
        return (word & kExponent) == kExponent ? word & ~0x40000000u : word;
    }
    case SettingKind::IcaoAddress: return word & 0xFFFFFFu;
    case SettingKind::TerminationUids: {
        std::uint32_t mask = word & 0xFFFFu;
        while (std::popcount(mask) > kMaxTerminations) mask &= mask - 1;  // drops the lowest UID
        return mask;
    }
    case SettingKind::DefaultScreens: {
        std::uint32_t folded = 0;
        for (unsigned byte = 0; byte < 4; ++byte) {
            folded |= (((word >> (8 * byte)) & 0xFFu) % kDefaultScreenNames.size()) << (8 * byte);
        }
        return folded;
    }
    default: return word;
    }
}

std::optional<RuleRefusal> check_store(const ConfigRecord& record, const ConfigRecord* baseline, ValueRange range) {
    for (const SettingEntry& entry : settings_catalogue()) {
        if (baseline != nullptr && setting_equal(entry, record, *baseline)) continue;
        if (const QString why = setting_range_violation(entry, record, range); !why.isEmpty())
            return RuleRefusal{&entry, why};
        if (auto refused = whole_record_rule(entry, record)) return refused;
    }
    return std::nullopt;
}

}  // namespace vk61
