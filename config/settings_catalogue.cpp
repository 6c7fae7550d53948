#include "settings_catalogue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <string>

#include "comms/protocol.h"
#include "display_units.h"
#include "registration.h"
#include "setting_values.h"

namespace vk61 {

namespace {

constexpr double kUint8Max = 255.0;
constexpr double kUint32Max = 4294967295.0;
constexpr double kTenthsMax = 6553.5;                // a uint16 of tenths
constexpr double kFloatMax = 3.4028234663852886e38;  // the largest finite float32
constexpr double kIcaoMax = 16777215.0;              // 24 bits: six hex digits
constexpr double kUidMax = protocol::kHighestUid;    // UIDs from 1 name units, 0 broadcasts

// Entry ranges are the form's: its spin boxes, sliders, combo boxes and the
// devices table's units. Record ranges are what the field holds and a unit
// can use; corrections must be numbers, an ICAO address has 24 bits, a UID
// stops at the highest the bus has.
//
// Each entry's first index is written unsigned, as the field holds it.
using K = SettingKind;
constexpr Bounds kNone{0, 0};
constexpr Bounds kSpeed{0, kUint8Max};
constexpr Bounds kFormVolts{5.0, 65.0};
constexpr Bounds kRecordVolts{0, kTenthsMax};
constexpr Bounds kWord{0, kUint32Max};
constexpr Bounds kFormDegrees{-90.0, 90.0};
constexpr Bounds kRecordDegrees{-kFloatMax, kFloatMax};
constexpr Bounds kIcao{0, kIcaoMax};
constexpr Bounds kScreenCodes{0, 5};
constexpr SettingEntry kCatalogue[] = {
    {"display_units", 0u, 1, K::DisplayUnits, "", kNone, kNone},
    {"v_min", 1u, 1, K::Integer, "", kSpeed, kSpeed},
    {"v_s0", 2u, 1, K::Integer, "", kSpeed, kSpeed},
    {"v_s1", 3u, 1, K::Integer, "", kSpeed, kSpeed},
    {"v_fe", 4u, 1, K::Integer, "", kSpeed, kSpeed},
    {"v_n0", 5u, 1, K::Integer, "", kSpeed, kSpeed},
    {"v_ne", 6u, 1, K::Integer, "", {0, 240}, kSpeed},
    {"v_ref", 7u, 1, K::Integer, "", kSpeed, kSpeed},
    {"v_lo", 8u, 1, K::Integer, "", kSpeed, kSpeed},
    {"min_volt_warn", 9u, 1, K::Volts, "V", kFormVolts, kRecordVolts},
    {"max_volt_warn", 10u, 1, K::Volts, "V", kFormVolts, kRecordVolts},
    {"registration", 11u, 3, K::Registration, "", kNone, kNone},
    {"sky_color_upper", 14u, 1, K::Colour, "", kNone, kNone},
    {"sky_color_lower", 15u, 1, K::Colour, "", kNone, kNone},
    {"ground_color_upper", 16u, 1, K::Colour, "", kNone, kNone},
    {"ground_color_lower", 17u, 1, K::Colour, "", kNone, kNone},
    {"approach_indicator_color", 18u, 1, K::Colour, "", kNone, kNone},
    {"airplane_color", 19u, 1, K::Colour, "", kNone, kNone},
    {"green_arc_color", 20u, 1, K::Colour, "", kNone, kNone},
    {"yellow_arc_color", 21u, 1, K::Colour, "", kNone, kNone},
    {"red_arc_color", 22u, 1, K::Colour, "", kNone, kNone},
    {"gear_indicator_color", 23u, 1, K::Colour, "", kNone, kNone},
    {"backlight_brightness", 24u, 1, K::Integer, "", {0, 21}, kWord},
    {"roll_correction", 25u, 1, K::Degrees, "degrees", kFormDegrees, kRecordDegrees},
    {"pitch_correction", 26u, 1, K::Degrees, "degrees", kFormDegrees, kRecordDegrees},
    {"min_volt_alert", 27u, 1, K::Volts, "V", kFormVolts, kRecordVolts},
    {"max_volt_alert", 28u, 1, K::Volts, "V", kFormVolts, kRecordVolts},
    {"text_bg_alpha", 29u, 1, K::Integer, "", {0, 254}, kWord},
    // The form never shows it; whoever sets it by name may set any word.
    {"reserved_30", 30u, 1, K::Integer, "", kWord, kWord},
    {"ownship_icao", 31u, 1, K::IcaoAddress, "", kIcao, kIcao},
    {"icao_random", 32u, 1, K::IcaoRandom, "", {0, 1}, kWord},
    {"emitter_category", 33u, 1, K::EmitterCategory, "", {0, 21}, kWord},
    {"termination_uids", 34u, 1, K::TerminationUids, "", {1, kUidMax}, {0, kUidMax}},
    {"map_view", 35u, 1, K::MapView, "", {0, 1}, kWord},
    // Every code a byte holds is a record value; the whole-record rules keep
    // what is stored within the screen list.
    {"default_screens", 36u, 4, K::DefaultScreens, "", kScreenCodes, {0, kUint8Max}},
};

constexpr std::array<std::string_view, 3> kAirspeedNames = {"MPH", "Knots", "KPH"};
constexpr std::array<std::string_view, 2> kAltitudeNames = {"Feet", "Meters"};
constexpr std::array<std::string_view, 2> kTemperatureNames = {"Fahrenheit", "Celsius"};
constexpr std::array<std::string_view, 2> kPressureNames = {"InHg", "Mbar"};
constexpr std::array<std::string_view, 2> kMapViewNames = {"North Up", "Track Up"};
constexpr unsigned kEmitterCategories = 22;          // A0-A7, B0-B7, C0-C5
constexpr unsigned kMaxUid = protocol::kHighestUid;  // the default-screen bytes

QString text(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

QString bound_text(double bound) { return QString::number(bound, 'g', 10); }

QString range_text(const Bounds& bounds) {
    return QStringLiteral("%1 to %2").arg(bound_text(bounds.minimum), bound_text(bounds.maximum));
}

// "70.0 V is out of range 5.0 to 65.0 V": volts with one decimal, as the form
// shows them.
QString volts_out_of_range(const QString& volts, const Bounds& bounds) {
    return QStringLiteral("%1 V is out of range %2 to %3 V")
        .arg(volts, QString::number(bounds.minimum, 'f', 1), QString::number(bounds.maximum, 'f', 1));
}

QString hex32(std::uint32_t value) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

// A value as the file writes it: text in quotes (so "170" is not taken for
// the number 170), null as null.
QString compact(const QJsonValue& value) {
    if (value.isString()) return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    if (value.isDouble()) return QString::number(value.toDouble(), 'g', 17);
    if (value.isBool()) return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isNull()) return QStringLiteral("null");
    if (value.isUndefined()) return QStringLiteral("nothing");
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
}

// Builds the messages; every one names the setting.
struct Check {
    const SettingEntry& entry;
    QString* error;
    bool fail(const QString& what) const {
        if (error) *error = QStringLiteral("Setting \"%1\": %2").arg(text(entry.name), what);
        return false;
    }
};

// "0x" and one to eight hex digits.
std::optional<std::uint32_t> parse_hex32(const QString& s) {
    static const QRegularExpression pattern(QStringLiteral("^0[xX]([0-9a-fA-F]{1,8})$"));
    const QRegularExpressionMatch match = pattern.match(s);
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(1).toUInt(nullptr, 16);
}

// A whole number within [minimum, maximum].
bool read_integer(const Check& check, const QJsonValue& value, double minimum, double maximum, std::uint32_t* out) {
    if (!value.isDouble()) return check.fail(QStringLiteral("%1 is not a number").arg(compact(value)));
    const double number = value.toDouble();
    if (number != std::floor(number)) return check.fail(QStringLiteral("%1 is not a whole number").arg(compact(value)));
    if (number < minimum || number > maximum) {
        return check.fail(QStringLiteral("%1 is out of range %2").arg(compact(value), range_text({minimum, maximum})));
    }
    *out = static_cast<std::uint32_t>(number);
    return true;
}

template <std::size_t N>
int name_position(const std::array<std::string_view, N>& names, const QString& name) {
    for (std::size_t i = 0; i < N; ++i) {
        if (name == text(names[i])) return static_cast<int>(i);
    }
    return -1;
}

template <std::size_t N>
QString names_list(const std::array<std::string_view, N>& names) {
    QStringList out;
    for (std::string_view name : names) out << QStringLiteral("\"%1\"").arg(text(name));
    return out.join(QStringLiteral(", "));
}

// A name of the list, or (for values the list has no name for) a number.
template <std::size_t N>
QJsonValue named_or_number(const std::array<std::string_view, N>& names, std::uint32_t value) {
    if (value < N) return text(names[value]);
    return static_cast<double>(value);
}

template <std::size_t N>
bool read_named_or_number(const Check& check, const std::array<std::string_view, N>& names, const QJsonValue& value,
                          const Bounds& bounds, std::uint32_t* out) {
    if (value.isString()) {
        const int position = name_position(names, value.toString());
        if (position < 0) {
            return check.fail(QStringLiteral("\"%1\" is not one of %2").arg(value.toString(), names_list(names)));
        }
        if (position < bounds.minimum || position > bounds.maximum) {
            return check.fail(QStringLiteral("\"%1\" is out of range %2").arg(value.toString(), range_text(bounds)));
        }
        *out = static_cast<std::uint32_t>(position);
        return true;
    }
    return read_integer(check, value, bounds.minimum, bounds.maximum, out);
}

std::array<std::string_view, kEmitterCategories> emitter_codes() {
    static const std::array<std::string, kEmitterCategories> storage = [] {
        std::array<std::string, kEmitterCategories> codes;
        for (unsigned i = 0; i < kEmitterCategories; ++i) {
            codes[i] = std::string(1, static_cast<char>('A' + i / 8)) + static_cast<char>('0' + i % 8);
        }
        return codes;
    }();
    std::array<std::string_view, kEmitterCategories> views;
    for (unsigned i = 0; i < kEmitterCategories; ++i) views[i] = storage[i];
    return views;
}

// ---- display units ----

QJsonValue units_to_json(std::uint32_t word) {
    const DisplayUnits shown = display_units_of(word);
    // Whatever the four choices do not explain, bit for bit: bits 9-31, and
    // bits 0-8 in a combination the form cannot select.
    const std::uint32_t extra = word ^ units_word(0, shown);
    QJsonObject object;
    object[QStringLiteral("airspeed")] = text(kAirspeedNames[static_cast<std::size_t>(shown.airspeed)]);
    object[QStringLiteral("altitude")] = text(kAltitudeNames[static_cast<std::size_t>(shown.altitude)]);
    object[QStringLiteral("temperature")] = text(kTemperatureNames[static_cast<std::size_t>(shown.temperature)]);
    object[QStringLiteral("pressure")] = text(kPressureNames[static_cast<std::size_t>(shown.pressure)]);
    object[QStringLiteral("extra_bits")] = hex32(extra);
    return object;
}

bool units_from_json(const Check& check, const QJsonValue& value, std::uint32_t* out) {
    if (!value.isObject()) return check.fail(QStringLiteral("%1 is not an object").arg(compact(value)));
    const QJsonObject object = value.toObject();
    static const QStringList members = {"airspeed", "altitude", "temperature", "pressure", "extra_bits"};
    for (const QString& key : object.keys()) {
        if (!members.contains(key)) return check.fail(QStringLiteral("unknown member \"%1\"").arg(key));
    }
    auto choice = [&](const char* key, const auto& names, int* position) {
        const QJsonValue member = object.value(QLatin1String(key));
        *position = member.isString() ? name_position(names, member.toString()) : -1;
        if (*position >= 0) return true;
        return check.fail(QStringLiteral("%1 %2 is not one of %3")
                              .arg(QLatin1String(key),
                                   member.isUndefined() ? QStringLiteral("missing") : compact(member),
                                   names_list(names)));
    };
    DisplayUnits selected;
    if (!choice("airspeed", kAirspeedNames, &selected.airspeed) ||
        !choice("altitude", kAltitudeNames, &selected.altitude) ||
        !choice("temperature", kTemperatureNames, &selected.temperature) ||
        !choice("pressure", kPressureNames, &selected.pressure)) {
        return false;
    }
    std::uint32_t extra = 0;
    if (object.contains(QStringLiteral("extra_bits"))) {
        const QJsonValue bits = object.value(QStringLiteral("extra_bits"));
        const auto parsed = parse_hex32(bits.toString());
        if (!bits.isString() || !parsed) {
            return check.fail(QStringLiteral("extra_bits %1 is not \"0x\" and up to 8 hex digits").arg(compact(bits)));
        }
        extra = *parsed;
    }
    *out = units_word(0, selected) ^ extra;
    return true;
}

// ---- registration ----

QJsonValue registration_to_json(const RegistrationBytes& bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    // Anything after the first NUL, and a twelfth character (the text holds
    // at most 11), cannot be told by the text: keep the bytes.
    if (std::any_of(end, bytes.end(), [](std::uint8_t b) { return b != 0; }) || bytes.back() != 0) {
        QJsonObject object;
        object[QStringLiteral("bytes")] = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(bytes.data()), kRegistrationBytes).toHex().toUpper());
        return object;
    }
    return QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), end - bytes.begin());
}

bool registration_from_json(const Check& check, const QJsonValue& value, RegistrationBytes* out) {
    RegistrationBytes bytes{};
    if (value.isString()) {
        const QString s = value.toString();
        // The last byte stays 0, as the form writes it.
        if (s.size() > static_cast<qsizetype>(kRegistrationBytes) - 1) {
            return check.fail(QStringLiteral("\"%1\" is longer than %2 characters").arg(s).arg(kRegistrationBytes - 1));
        }
        for (qsizetype i = 0; i < s.size(); ++i) {
            const char16_t c = s[i].unicode();
            if (c == 0 || c > 0xFF) {
                return check.fail(QStringLiteral("\"%1\" holds a character the EFIS cannot store (U+%2)")
                                      .arg(s)
                                      .arg(static_cast<unsigned>(c), 4, 16, QLatin1Char('0')));
            }
            bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c);
        }
        *out = bytes;
        return true;
    }
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{24}$"));
    const QJsonValue raw = value.toObject().value(QStringLiteral("bytes"));
    if (!value.isObject() || value.toObject().size() != 1 || !raw.isString() || !hex.match(raw.toString()).hasMatch()) {
        return check.fail(QStringLiteral("%1 is neither text nor {\"bytes\": 24 hex digits}").arg(compact(value)));
    }
    const QByteArray decoded = QByteArray::fromHex(raw.toString().toLatin1());
    std::copy(decoded.begin(), decoded.end(), bytes.begin());
    *out = bytes;
    return true;
}

// ---- colours, degrees, ICAO ----

QJsonValue colour_to_json(std::uint32_t argb) {
    if ((argb >> 24) == 0xFF) return QStringLiteral("#%1").arg(argb & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
    return QStringLiteral("#%1").arg(argb, 8, 16, QLatin1Char('0'));
}

bool colour_from_json(const Check& check, const QJsonValue& value, std::uint32_t* out) {
    static const QRegularExpression pattern(QStringLiteral("^#([0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
    const QRegularExpressionMatch match = pattern.match(value.toString());
    if (!value.isString() || !match.hasMatch()) {
        return check.fail(QStringLiteral("%1 is not a colour \"#rrggbb\" or \"#aarrggbb\"").arg(compact(value)));
    }
    const std::uint32_t parsed = match.captured(1).toUInt(nullptr, 16);
    *out = match.captured(1).size() == 6 ? opaque_colour(parsed) : parsed;
    return true;
}

constexpr double kDegreesShown = 180.0;  // beyond half a turn a file shows the bit pattern

bool degrees_shown_as_number(std::uint32_t bits) {
    const double degrees = float_from_setting(bits);
    // -0.0 does not survive every JSON reader as itself.
    return std::isfinite(degrees) && std::fabs(degrees) <= kDegreesShown && bits != 0x80000000u;
}

// Why a correction's bit pattern is no use to a unit or lies outside bounds;
// "" when neither.
QString degrees_violation(std::uint32_t bits, const Bounds& bounds) {
    const double degrees = float_from_setting(bits);
    if (std::isnan(degrees)) return QStringLiteral("%1 is not a number (NaN)").arg(hex32(bits));
    if (std::isinf(degrees)) return QStringLiteral("%1 is infinite").arg(hex32(bits));
    if (degrees < bounds.minimum || degrees > bounds.maximum) {
        return QStringLiteral("%1 is out of range %2").arg(QString::number(degrees, 'g', 9), range_text(bounds));
    }
    return {};
}

QJsonValue degrees_to_json(std::uint32_t bits) {
    if (degrees_shown_as_number(bits)) return float_from_setting(bits);
    return hex32(bits);
}

bool degrees_from_json(const Check& check, const QJsonValue& value, const Bounds& bounds, std::uint32_t* out) {
    if (value.isString()) {
        if (const auto bits = parse_hex32(value.toString())) {
            if (const QString why = degrees_violation(*bits, bounds); !why.isEmpty()) return check.fail(why);
            *out = *bits;
            return true;
        }
    } else if (value.isDouble()) {
        const double degrees = value.toDouble();
        if (degrees < bounds.minimum || degrees > bounds.maximum) {
            return check.fail(QStringLiteral("%1 is out of range %2").arg(compact(value), range_text(bounds)));
        }
        *out = float_setting(degrees);
        return true;
    }
    return check.fail(QStringLiteral("%1 is neither degrees nor a \"0x\" bit pattern").arg(compact(value)));
}

QJsonValue icao_to_json(std::uint32_t address) {
    const int digits = address <= 0xFFFFFFu ? 6 : 8;
    return QStringLiteral("%1").arg(address, digits, 16, QLatin1Char('0')).toUpper();
}

// Six hex digits: the address is 24 bits, and the tool writes bits 24-31 as 0.
bool icao_from_json(const Check& check, const QJsonValue& value, std::uint32_t* out) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-fA-F]{6}$"));
    if (!value.isString() || !pattern.match(value.toString()).hasMatch()) {
        return check.fail(QStringLiteral("%1 is not an address of 6 hex digits").arg(compact(value)));
    }
    *out = value.toString().toUInt(nullptr, 16);
    return true;
}

// ---- termination and default screens ----

QJsonValue termination_to_json(std::uint32_t mask) {
    QJsonArray uids;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (mask & (1u << bit)) uids.append(static_cast<int>(bit));
    }
    return uids;
}

bool termination_from_json(const Check& check, const QJsonValue& value, const Bounds& bounds, std::uint32_t* out) {
    if (!value.isArray()) return check.fail(QStringLiteral("%1 is not a list of UIDs").arg(compact(value)));
    std::uint32_t mask = 0;
    for (const QJsonValue& item : value.toArray()) {
        std::uint32_t uid = 0;
        if (!read_integer(check, item, bounds.minimum, bounds.maximum, &uid)) return false;
        if (mask & (1u << uid)) return check.fail(QStringLiteral("UID %1 is listed twice").arg(uid));
        mask |= 1u << uid;
    }
    *out = mask;
    return true;
}

QJsonValue screens_to_json(const ConfigRecord& record) {
    QJsonObject object;
    for (std::uint8_t uid = 0; uid <= kMaxUid; ++uid) {
        // Splash (0) is what a unit starts on without a choice: not listed.
        if (const std::uint8_t code = record.default_screen(uid)) {
            object[QString::number(uid)] = named_or_number(kDefaultScreenNames, code);
        }
    }
    return object;
}

bool screens_from_json(const Check& check, const QJsonValue& value, const Bounds& bounds, ConfigRecord* screens) {
    if (!value.isObject()) return check.fail(QStringLiteral("%1 is not an object of UIDs").arg(compact(value)));
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool number = false;
        const unsigned uid = it.key().toUInt(&number);
        if (!number || uid > kMaxUid || it.key() != QString::number(uid)) {
            return check.fail(QStringLiteral("\"%1\" is not a UID 0 to %2").arg(it.key()).arg(kMaxUid));
        }
        std::uint32_t code = 0;
        if (!read_named_or_number(check, kDefaultScreenNames, it.value(), bounds, &code)) {
            // Say which unit's screen it is.
            if (check.error) check.error->replace(QStringLiteral("\": "), QStringLiteral("\": UID %1: ").arg(uid));
            return false;
        }
        screens->set_default_screen(static_cast<std::uint8_t>(uid), static_cast<std::uint8_t>(code));
    }
    return true;
}

}  // namespace

std::span<const SettingEntry> settings_catalogue() { return kCatalogue; }

const SettingEntry* find_setting(std::string_view name) {
    for (const SettingEntry& entry : kCatalogue) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

const SettingEntry* setting_of_index(unsigned index) {
    for (const SettingEntry& entry : kCatalogue) {
        if (index >= entry.first_index && index < entry.first_index + entry.index_count) return &entry;
    }
    return nullptr;
}

namespace {

// The setting's name, or the number of an index no setting covers.
QString name_of_index(long long index) {
    const SettingEntry* entry = index >= 0 ? setting_of_index(static_cast<unsigned>(index)) : nullptr;
    return entry ? text(entry->name) : QString::number(index);
}

template <typename Index>
QStringList distinct_names(const std::vector<Index>& indices) {
    QStringList names;
    for (const Index index : indices) {
        const QString name = name_of_index(index);
        if (!names.contains(name)) names << name;
    }
    return names;
}

}  // namespace

QStringList distinct_setting_names(const std::vector<unsigned>& indices) { return distinct_names(indices); }

QString setting_names(const std::vector<int>& indices) { return distinct_names(indices).join(QStringLiteral(", ")); }

QJsonValue setting_to_json(const SettingEntry& entry, const ConfigRecord& record) {
    const std::uint32_t value = config_get_value(record, entry.first_index);
    switch (entry.kind) {
    case K::DisplayUnits: return units_to_json(value);
    case K::Integer: return static_cast<double>(value);
    case K::Volts: return value / 10.0;
    case K::Registration: return registration_to_json(registration_of(record));
    case K::Colour: return colour_to_json(value);
    case K::Degrees: return degrees_to_json(value);
    case K::IcaoAddress: return icao_to_json(value);
    case K::IcaoRandom:
        if (value <= 1) return value == 1;
        return static_cast<double>(value);
    case K::EmitterCategory: return named_or_number(emitter_codes(), value);
    case K::MapView: return named_or_number(kMapViewNames, value);
    case K::TerminationUids: return termination_to_json(value);
    case K::DefaultScreens: return screens_to_json(record);
    }
    return {};
}

bool setting_from_json(const SettingEntry& entry, const QJsonValue& value, ConfigRecord& record, QString* error,
                       ValueRange range) {
    const Check check{entry, error};
    const Bounds& bounds = entry.bounds(range);
    std::uint32_t word = 0;
    bool ok = false;
    switch (entry.kind) {
    case K::DisplayUnits: ok = units_from_json(check, value, &word); break;
    case K::Integer: ok = read_integer(check, value, bounds.minimum, bounds.maximum, &word); break;
    case K::Volts: {
        if (!value.isDouble()) return check.fail(QStringLiteral("%1 is not a number of volts").arg(compact(value)));
        const double volts = value.toDouble();
        if (volts < bounds.minimum || volts > bounds.maximum) {
            return check.fail(volts_out_of_range(compact(value), bounds));
        }
        word = volts_to_tenths(volts);
        if (std::fabs(volts * 10.0 - word) > 1e-6) {
            return check.fail(QStringLiteral("%1 V has more than one decimal").arg(compact(value)));
        }
        ok = true;
        break;
    }
    case K::Registration: {
        RegistrationBytes bytes{};
        if (!registration_from_json(check, value, &bytes)) return false;
        const auto words = registration_words(bytes);
        for (unsigned i = 0; i < words.size(); ++i) config_set_value(record, entry.first_index + i, words[i]);
        return true;
    }
    case K::Colour: ok = colour_from_json(check, value, &word); break;
    case K::Degrees: ok = degrees_from_json(check, value, bounds, &word); break;
    case K::IcaoAddress: ok = icao_from_json(check, value, &word); break;
    case K::IcaoRandom:
        if (value.isBool()) {
            word = value.toBool() ? 1u : 0u;
            ok = true;
        } else {
            ok = read_integer(check, value, bounds.minimum, bounds.maximum, &word);
        }
        break;
    case K::EmitterCategory: ok = read_named_or_number(check, emitter_codes(), value, bounds, &word); break;
    case K::MapView: ok = read_named_or_number(check, kMapViewNames, value, bounds, &word); break;
    case K::TerminationUids: ok = termination_from_json(check, value, bounds, &word); break;
    case K::DefaultScreens: {
        ConfigRecord screens;
        if (!screens_from_json(check, value, bounds, &screens)) return false;
        for (unsigned i = 0; i < entry.index_count; ++i) {
            config_set_value(record, entry.first_index + i, config_get_value(screens, entry.first_index + i));
        }
        return true;
    }
    }
    if (!ok) return false;
    config_set_value(record, entry.first_index, word);
    return true;
}

QString setting_range_violation(const SettingEntry& entry, const ConfigRecord& record, ValueRange range) {
    const Bounds& bounds = entry.bounds(range);
    const std::uint32_t value = config_get_value(record, entry.first_index);
    const auto outside = [&](double number) { return number < bounds.minimum || number > bounds.maximum; };
    QString why;
    switch (entry.kind) {
    case K::Integer:
    case K::IcaoAddress:
    case K::IcaoRandom:
    case K::EmitterCategory:
    case K::MapView:
        if (outside(value)) why = QStringLiteral("%1 is out of range %2").arg(value).arg(range_text(bounds));
        break;
    case K::Volts:
        if (outside(value / 10.0)) {
            why = volts_out_of_range(QString::number(value / 10.0, 'f', 1), bounds);
        }
        break;
    case K::Degrees: why = degrees_violation(value, bounds); break;
    case K::TerminationUids:
        for (unsigned uid = 0; uid < 32 && why.isEmpty(); ++uid) {
            if ((value & (1u << uid)) && outside(uid))
                why = QStringLiteral("UID %1 is out of range %2").arg(uid).arg(range_text(bounds));
        }
        break;
    case K::DefaultScreens:
        for (std::uint8_t uid = 0; uid <= kMaxUid && why.isEmpty(); ++uid) {
            const unsigned code = record.default_screen(uid);
            if (outside(code)) {
                why = QStringLiteral("UID %1: screen code %2 is out of range %3")
                          .arg(uid)
                          .arg(code)
                          .arg(range_text(bounds));
            }
        }
        break;
    case K::DisplayUnits:
    case K::Registration:
    case K::Colour: break;
    }
    if (why.isEmpty()) return why;
    QString message;
    Check{entry, &message}.fail(why);
    return message;
}

QString setting_display_text(const SettingEntry& entry, const ConfigRecord& record) {
    const QJsonValue json = setting_to_json(entry, record);
    const std::uint32_t value = config_get_value(record, entry.first_index);
    switch (entry.kind) {
    case K::DisplayUnits: {
        const QJsonObject units = json.toObject();
        QString shown = QStringList{units["airspeed"].toString(), units["altitude"].toString(),
                                    units["temperature"].toString(), units["pressure"].toString()}
                            .join(QStringLiteral(", "));
        if (units["extra_bits"].toString() != hex32(0))
            shown += QStringLiteral(" (bits %1)").arg(units["extra_bits"].toString());
        return shown;
    }
    case K::Volts: return QStringLiteral("%1 V").arg(value / 10.0, 0, 'f', 1);
    case K::Degrees:
        return degrees_shown_as_number(value) ? QStringLiteral("%1°").arg(float_from_setting(value), 0, 'f', 1)
                                              : json.toString();
    case K::Registration:
        return json.isString() && json.toString().isEmpty() ? QStringLiteral("(none)") : compact(json);
    case K::IcaoRandom:
        if (value == 1) return QStringLiteral("Random ICAO #");
        if (value == 0) return QStringLiteral("Use ICAO #");
        return compact(json);
    case K::TerminationUids: {
        QStringList uids;
        for (const QJsonValue& uid : json.toArray()) uids << QStringLiteral("UID %1").arg(uid.toInt());
        return uids.isEmpty() ? QStringLiteral("none") : uids.join(QStringLiteral(", "));
    }
    case K::DefaultScreens: {
        const QJsonObject screens = json.toObject();
        QStringList shown;
        for (auto it = screens.begin(); it != screens.end(); ++it) {
            shown << QStringLiteral("UID %1: %2").arg(it.key(), compact(it.value()));
        }
        return shown.isEmpty() ? QStringLiteral("all Splash") : shown.join(QStringLiteral(", "));
    }
    default: return compact(json);
    }
}

bool setting_equal(const SettingEntry& entry, const ConfigRecord& a, const ConfigRecord& b) {
    for (unsigned i = 0; i < entry.index_count; ++i) {
        if (config_get_value(a, entry.first_index + i) != config_get_value(b, entry.first_index + i)) return false;
    }
    return true;
}

}  // namespace vk61
