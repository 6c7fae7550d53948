#include "config_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <set>
#include <vector>

namespace vk61 {

namespace {

QString name_of(const SettingEntry& entry) {
    return QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

// 1-based line of a byte offset, for the parser's messages.
int line_of(const QByteArray& bytes, qsizetype offset) { return static_cast<int>(bytes.left(offset).count('\n')) + 1; }

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

// The first key that appears twice in one object of a document that parsed
// as JSON, with its line; "" when none does. The parser keeps only the last
// of two equal keys, so a file saying v_ne twice would lose one silently.
QString duplicate_key(const QByteArray& bytes) {
    struct Frame {
        bool object;
        bool expect_key;
        std::set<QString> keys;
    };
    std::vector<Frame> frames;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '{' || c == '[') {
            frames.push_back({c == '{', c == '{', {}});
        } else if ((c == '}' || c == ']') && !frames.empty()) {
            frames.pop_back();
        } else if (c == ',' && !frames.empty()) {
            frames.back().expect_key = frames.back().object;
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; i < bytes.size() && bytes[i] != '"'; ++i) {
                if (bytes[i] == '\\') ++i;
            }
            if (frames.empty() || !frames.back().expect_key) continue;
            frames.back().expect_key = false;
            // The parser decodes the escapes, so "v\u005fne" is v_ne too.
            const QByteArray token = bytes.mid(start, i - start + 1);
            const QString key = QJsonDocument::fromJson("[" + token + "]").array().at(0).toString();
            if (!frames.back().keys.insert(key).second) {
                return QStringLiteral("\"%1\" appears twice in one object (line %2)")
                    .arg(key)
                    .arg(line_of(bytes, start));
            }
        }
    }
    return {};
}

bool read_origin(const QJsonValue& value, ConfigFileOrigin* origin, QString* error) {
    if (value.isUndefined()) return true;
    if (!value.isObject()) return fail(error, QStringLiteral("\"efis\" is not an object"));
    const QJsonObject object = value.toObject();
    origin->serial = object.value(QStringLiteral("serial")).toString();
    origin->firmware = object.value(QStringLiteral("firmware")).toString();
    const QJsonValue version = object.value(QStringLiteral("memory_version"));
    if (version.isUndefined()) return true;
    const double number = version.toDouble(-1);
    if (!version.isDouble() || number < 0 || number > 4294967295.0 ||
        number != static_cast<double>(static_cast<std::uint32_t>(number))) {
        return fail(error, QStringLiteral("\"memory_version\" is not a whole number 0 to 4294967295"));
    }
    origin->memory_version = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace

QByteArray write_config_file(const ConfigFile& file) {
    QJsonObject settings;
    for (const SettingEntry& entry : settings_catalogue())
        settings[name_of(entry)] = setting_to_json(entry, file.settings);

    QJsonObject efis;
    efis[QStringLiteral("serial")] = file.efis.serial;
    efis[QStringLiteral("firmware")] = file.efis.firmware;
    if (file.efis.memory_version)
        efis[QStringLiteral("memory_version")] = static_cast<double>(*file.efis.memory_version);

    QJsonObject root;
    root[QStringLiteral("format")] = QLatin1String(kConfigFileFormat);
    root[QStringLiteral("format_version")] = kConfigFileVersion;
    root[QStringLiteral("created")] = file.created.toUTC().toString(Qt::ISODateWithMs);
    root[QStringLiteral("tool")] = file.tool;
    root[QStringLiteral("reason")] = file.reason;
    root[QStringLiteral("efis")] = efis;
    if (file.unstored_values) root[QStringLiteral("unstored_values")] = true;
    root[QStringLiteral("settings")] = settings;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<ConfigFile> load_config_file(const QString& path, QString* error) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error) *error = in.errorString();
        return std::nullopt;
    }
    // One byte past the limit tells a file that is too large from one that
    // is exactly at it, whatever size the file system reports.
    const QByteArray bytes = in.read(kMaxConfigFileBytes + 1);
    if (bytes.size() > kMaxConfigFileBytes) {
        if (error) {
            *error = QStringLiteral("the file is larger than a configuration file can be (%1 bytes at most)")
                         .arg(kMaxConfigFileBytes);
        }
        return std::nullopt;
    }
    return read_config_file(bytes, error);
}

std::optional<ConfigFile> read_config_file(const QByteArray& bytes, QString* error) {
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError) {
        fail(error, QStringLiteral("Not readable as JSON: %1 (line %2)")
                        .arg(parse.errorString())
                        .arg(line_of(bytes, parse.offset)));
        return std::nullopt;
    }
    if (const QString duplicate = duplicate_key(bytes); !duplicate.isEmpty()) {
        fail(error, duplicate);
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(QStringLiteral("format")).toString() != QLatin1String(kConfigFileFormat)) {
        fail(error, QStringLiteral("Not an EFIS configuration file (its \"format\" is not \"%1\")")
                        .arg(QLatin1String(kConfigFileFormat)));
        return std::nullopt;
    }
    const QJsonValue format_version = root.value(QStringLiteral("format_version"));
    if (!format_version.isDouble()) {
        // "1" in quotes is text, not the number the format asks for.
        const QString shown = format_version.isString()
                                  ? QStringLiteral("the text \"%1\"").arg(format_version.toString())
                              : format_version.isUndefined() ? QStringLiteral("missing")
                                                             : QStringLiteral("not a number");
        fail(error,
             QStringLiteral("\"format_version\" is %1; it must be the number %2").arg(shown).arg(kConfigFileVersion));
        return std::nullopt;
    }
    const double version = format_version.toDouble();
    if (version != kConfigFileVersion) {
        fail(error, QStringLiteral("Format version %1 is not one this tool reads (it reads %2)")
                        .arg(QString::number(version, 'g', 17))
                        .arg(kConfigFileVersion));
        return std::nullopt;
    }

    ConfigFile file;
    file.created = QDateTime::fromString(root.value(QStringLiteral("created")).toString(), Qt::ISODateWithMs);
    file.tool = root.value(QStringLiteral("tool")).toString();
    file.reason = root.value(QStringLiteral("reason")).toString();
    if (!read_origin(root.value(QStringLiteral("efis")), &file.efis, error)) return std::nullopt;
    file.unstored_values = root.value(QStringLiteral("unstored_values")).toBool(false);

    const QJsonValue settings = root.value(QStringLiteral("settings"));
    if (!settings.isObject()) {
        fail(error, QStringLiteral("The file holds no \"settings\" object"));
        return std::nullopt;
    }
    const QJsonObject by_name = settings.toObject();
    for (auto it = by_name.begin(); it != by_name.end(); ++it) {
        const SettingEntry* entry = find_setting(it.key().toStdString());
        if (entry == nullptr) {
            fail(error, QStringLiteral("Unknown setting \"%1\"").arg(it.key()));
            return std::nullopt;
        }
        if (!setting_from_json(*entry, it.value(), file.settings, error, ValueRange::Record)) return std::nullopt;
        for (unsigned i = 0; i < entry->index_count; ++i) file.present.set(entry->first_index + i);
    }
    return file;
}

std::vector<const SettingEntry*> changed_settings(const ConfigFile& file, const ConfigRecord& efis) {
    std::vector<const SettingEntry*> changed;
    for (const SettingEntry& entry : settings_catalogue()) {
        if (file.has(entry) && !setting_equal(entry, file.settings, efis)) changed.push_back(&entry);
    }
    return changed;
}

ConfigRecord with_file_settings(const ConfigFile& file, const ConfigRecord& efis) {
    ConfigRecord wanted = efis;
    for (const SettingEntry& entry : settings_catalogue()) {
        if (!file.has(entry)) continue;
        for (unsigned i = 0; i < entry.index_count; ++i) {
            const unsigned index = entry.first_index + i;
            config_set_value(wanted, index, config_get_value(file.settings, index));
        }
    }
    return wanted;
}

std::optional<RuleRefusal> import_refusal(const ConfigFile& file, const ConfigRecord* efis) {
    return check_store(with_file_settings(file, efis ? *efis : ConfigRecord{}), efis, ValueRange::Record);
}

bool same_settings(const ConfigFile& a, const ConfigFile& b) {
    if (a.present != b.present) return false;
    for (const SettingEntry& entry : settings_catalogue()) {
        if (a.has(entry) && !setting_equal(entry, a.settings, b.settings)) return false;
    }
    return true;
}

}  // namespace vk61
