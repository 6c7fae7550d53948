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

#include "display_units.h"
#include "registration.h"
#include "setting_values.h"

namespace vk61 {

namespace {

constexpr double kUint8Max = 255.0;
constexpr double kUint32Max = 4294967295.0;
constexpr double kTenthsMax = 6553.5;  // a uint16 of tenths
constexpr double kDegreesMax = 180.0;  // beyond half a turn a correction means nothing

using K = SettingKind;
constexpr SettingEntry kCatalogue[] = {
    {"display_units", 0, 1, K::DisplayUnits, "", 0, 0},
    {"v_min", 1, 1, K::Integer, "", 0, kUint8Max},
    {"v_s0", 2, 1, K::Integer, "", 0, kUint8Max},
    {"v_s1", 3, 1, K::Integer, "", 0, kUint8Max},
    {"v_fe", 4, 1, K::Integer, "", 0, kUint8Max},
    {"v_n0", 5, 1, K::Integer, "", 0, kUint8Max},
    {"v_ne", 6, 1, K::Integer, "", 0, kUint8Max},
    {"v_ref", 7, 1, K::Integer, "", 0, kUint8Max},
    {"v_lo", 8, 1, K::Integer, "", 0, kUint8Max},
    {"min_volt_warn", 9, 1, K::Volts, "V", 0, kTenthsMax},
    {"max_volt_warn", 10, 1, K::Volts, "V", 0, kTenthsMax},
    {"registration", 11, 3, K::Registration, "", 0, 0},
    {"sky_color_upper", 14, 1, K::Colour, "", 0, 0},
    {"sky_color_lower", 15, 1, K::Colour, "", 0, 0},
    {"ground_color_upper", 16, 1, K::Colour, "", 0, 0},
    {"ground_color_lower", 17, 1, K::Colour, "", 0, 0},
    {"approach_indicator_color", 18, 1, K::Colour, "", 0, 0},
    {"airplane_color", 19, 1, K::Colour, "", 0, 0},
    {"green_arc_color", 20, 1, K::Colour, "", 0, 0},
    {"yellow_arc_color", 21, 1, K::Colour, "", 0, 0},
    {"red_arc_color", 22, 1, K::Colour, "", 0, 0},
    {"gear_indicator_color", 23, 1, K::Colour, "", 0, 0},
    {"backlight_brightness", 24, 1, K::Integer, "", 0, kUint32Max},
    {"roll_correction", 25, 1, K::Degrees, "degrees", -kDegreesMax, kDegreesMax},
    {"pitch_correction", 26, 1, K::Degrees, "degrees", -kDegreesMax, kDegreesMax},
    {"min_volt_alert", 27, 1, K::Volts, "V", 0, kTenthsMax},
    {"max_volt_alert", 28, 1, K::Volts, "V", 0, kTenthsMax},
    {"text_bg_alpha", 29, 1, K::Integer, "", 0, kUint32Max},
    {"reserved_30", 30, 1, K::Integer, "", 0, kUint32Max},
    {"ownship_icao", 31, 1, K::IcaoAddress, "", 0, 0},
    {"icao_random", 32, 1, K::IcaoRandom, "", 0, 0},
    {"emitter_category", 33, 1, K::EmitterCategory, "", 0, 0},
    {"termination_uids", 34, 1, K::TerminationUids, "", 0, 0},
    {"map_view", 35, 1, K::MapView, "", 0, 0},
    {"default_screens", 36, 4, K::DefaultScreens, "", 0, 0},
};

constexpr std::array<std::string_view, 3> kAirspeedNames = {"MPH", "Knots", "KPH"};
constexpr std::array<std::string_view, 2> kAltitudeNames = {"Feet", "Meters"};
constexpr std::array<std::string_view, 2> kTemperatureNames = {"Fahrenheit", "Celsius"};
constexpr std::array<std::string_view, 2> kPressureNames = {"InHg", "Mbar"};
constexpr std::array<std::string_view, 2> kMapViewNames = {"North Up", "Track Up"};
constexpr unsigned kEmitterCategories = 22;  // A0-A7, B0-B7, C0-C5
constexpr unsigned kMaxUid = 15;

QString text(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

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
        return check.fail(QStringLiteral("%1 is out of range %2 to %3")
                              .arg(compact(value), QString::number(minimum, 'f', 0), QString::number(maximum, 'f', 0)));
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
                          double maximum, std::uint32_t* out) {
    if (value.isString()) {
        const int position = name_position(names, value.toString());
        if (position < 0) {
            return check.fail(QStringLiteral("\"%1\" is not one of %2").arg(value.toString(), names_list(names)));
        }
        *out = static_cast<std::uint32_t>(position);
        return true;
    }
    return read_integer(check, value, 0, maximum, out);
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
                              .arg(QLatin1String(key), member.isUndefined() ? QStringLiteral("missing") : compact(member),
                                   names_list(names)));
    };
    DisplayUnits selected;
    if (!choice("airspeed", kAirspeedNames, &selected.airspeed) || !choice("altitude", kAltitudeNames, &selected.altitude) ||
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
    // Anything after the first NUL cannot be told by the text: keep the bytes.
    if (std::any_of(end, bytes.end(), [](std::uint8_t b) { return b != 0; })) {
        QJsonObject object;
        object[QStringLiteral("bytes")] =
            QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), kRegistrationBytes).toHex().toUpper());
        return object;
    }
    return QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), end - bytes.begin());
}

bool registration_from_json(const Check& check, const QJsonValue& value, RegistrationBytes* out) {
    RegistrationBytes bytes{};
    if (value.isString()) {
        const QString s = value.toString();
        if (s.size() > static_cast<qsizetype>(kRegistrationBytes)) {
            return check.fail(QStringLiteral("\"%1\" is longer than %2 characters").arg(s).arg(kRegistrationBytes));
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

bool degrees_shown_as_number(std::uint32_t bits) {
    const double degrees = float_from_setting(bits);
    // -0.0 does not survive every JSON reader as itself.
    return std::isfinite(degrees) && std::fabs(degrees) <= kDegreesMax && bits != 0x80000000u;
}

QJsonValue degrees_to_json(std::uint32_t bits) {
    if (degrees_shown_as_number(bits)) return float_from_setting(bits);
    return hex32(bits);
}

bool degrees_from_json(const Check& check, const QJsonValue& value, std::uint32_t* out) {
    if (value.isString()) {
        if (const auto bits = parse_hex32(value.toString())) {
            *out = *bits;
            return true;
        }
    } else if (value.isDouble()) {
        const double degrees = value.toDouble();
        if (degrees < -kDegreesMax || degrees > kDegreesMax) {
            return check.fail(QStringLiteral("%1 is out of range -180 to 180").arg(compact(value)));
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

bool icao_from_json(const Check& check, const QJsonValue& value, std::uint32_t* out) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
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

bool termination_from_json(const Check& check, const QJsonValue& value, std::uint32_t* out) {
    if (!value.isArray()) return check.fail(QStringLiteral("%1 is not a list of UIDs").arg(compact(value)));
    std::uint32_t mask = 0;
    for (const QJsonValue& item : value.toArray()) {
        std::uint32_t uid = 0;
        if (!read_integer(check, item, 0, 31, &uid)) return false;
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

bool screens_from_json(const Check& check, const QJsonValue& value, ConfigRecord* screens) {
    if (!value.isObject()) return check.fail(QStringLiteral("%1 is not an object of UIDs").arg(compact(value)));
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool number = false;
        const unsigned uid = it.key().toUInt(&number);
        if (!number || uid > kMaxUid || it.key() != QString::number(uid)) {
            return check.fail(QStringLiteral("\"%1\" is not a UID 0 to 15").arg(it.key()));
        }
        std::uint32_t code = 0;
        if (!read_named_or_number(check, kDefaultScreenNames, it.value(), kUint8Max, &code)) return false;
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

bool setting_from_json(const SettingEntry& entry, const QJsonValue& value, ConfigRecord& record, QString* error) {
    const Check check{entry, error};
    std::uint32_t word = 0;
    bool ok = false;
    switch (entry.kind) {
    case K::DisplayUnits: ok = units_from_json(check, value, &word); break;
    case K::Integer: ok = read_integer(check, value, entry.minimum, entry.maximum, &word); break;
    case K::Volts: {
        if (!value.isDouble()) return check.fail(QStringLiteral("%1 is not a number of volts").arg(compact(value)));
        const double volts = value.toDouble();
        if (volts < entry.minimum || volts > entry.maximum) {
            return check.fail(QStringLiteral("%1 V is out of range 0.0 to 6553.5 V").arg(compact(value)));
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
    case K::Degrees: ok = degrees_from_json(check, value, &word); break;
    case K::IcaoAddress: ok = icao_from_json(check, value, &word); break;
    case K::IcaoRandom:
        if (value.isBool()) {
            word = value.toBool() ? 1u : 0u;
            ok = true;
        } else {
            ok = read_integer(check, value, 0, kUint32Max, &word);
        }
        break;
    case K::EmitterCategory: ok = read_named_or_number(check, emitter_codes(), value, kUint32Max, &word); break;
    case K::MapView: ok = read_named_or_number(check, kMapViewNames, value, kUint32Max, &word); break;
    case K::TerminationUids: ok = termination_from_json(check, value, &word); break;
    case K::DefaultScreens: {
        ConfigRecord screens;
        if (!screens_from_json(check, value, &screens)) return false;
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

QString setting_display_text(const SettingEntry& entry, const ConfigRecord& record) {
    const QJsonValue json = setting_to_json(entry, record);
    const std::uint32_t value = config_get_value(record, entry.first_index);
    switch (entry.kind) {
    case K::DisplayUnits: {
        const QJsonObject units = json.toObject();
        QString shown = QStringList{units["airspeed"].toString(), units["altitude"].toString(),
                                    units["temperature"].toString(), units["pressure"].toString()}
                            .join(QStringLiteral(", "));
        if (units["extra_bits"].toString() != hex32(0)) shown += QStringLiteral(" (bits %1)").arg(units["extra_bits"].toString());
        return shown;
    }
    case K::Volts: return QStringLiteral("%1 V").arg(value / 10.0, 0, 'f', 1);
    case K::Degrees:
        return degrees_shown_as_number(value) ? QStringLiteral("%1°").arg(float_from_setting(value), 0, 'f', 1)
                                              : json.toString();
    case K::Registration: return json.isString() && json.toString().isEmpty() ? QStringLiteral("(none)") : compact(json);
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
