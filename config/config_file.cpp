#include "config_file.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace vk61 {

namespace {

QString name_of(const SettingEntry& entry) {
    return QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

// 1-based line of a byte offset, for the parser's messages.
int line_of(const QByteArray& bytes, qsizetype offset) {
    return static_cast<int>(bytes.left(offset).count('\n')) + 1;
}

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
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
    if (!version.isDouble() || number < 0 || number > 4294967295.0 || number != static_cast<double>(static_cast<std::uint32_t>(number))) {
        return fail(error, QStringLiteral("\"memory_version\" is not a whole number 0 to 4294967295"));
    }
    origin->memory_version = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace

QByteArray write_config_file(const ConfigFile& file) {
    QJsonObject settings;
    for (const SettingEntry& entry : settings_catalogue()) settings[name_of(entry)] = setting_to_json(entry, file.settings);

    QJsonObject efis;
    efis[QStringLiteral("serial")] = file.efis.serial;
    efis[QStringLiteral("firmware")] = file.efis.firmware;
    if (file.efis.memory_version) efis[QStringLiteral("memory_version")] = static_cast<double>(*file.efis.memory_version);

    QJsonObject root;
    root[QStringLiteral("format")] = QLatin1String(kConfigFileFormat);
    root[QStringLiteral("format_version")] = kConfigFileVersion;
    root[QStringLiteral("created")] = file.created.toUTC().toString(Qt::ISODateWithMs);
    root[QStringLiteral("tool")] = file.tool;
    root[QStringLiteral("reason")] = file.reason;
    root[QStringLiteral("efis")] = efis;
    root[QStringLiteral("settings")] = settings;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<ConfigFile> read_config_file(const QByteArray& bytes, QString* error) {
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError) {
        fail(error, QStringLiteral("Not readable as JSON: %1 (line %2)").arg(parse.errorString()).arg(line_of(bytes, parse.offset)));
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(QStringLiteral("format")).toString() != QLatin1String(kConfigFileFormat)) {
        fail(error, QStringLiteral("Not an EFIS configuration file (its \"format\" is not \"%1\")").arg(QLatin1String(kConfigFileFormat)));
        return std::nullopt;
    }
    const QJsonValue format_version = root.value(QStringLiteral("format_version"));
    if (!format_version.isDouble()) {
        // "1" in quotes is text, not the number the format asks for.
        const QString shown = format_version.isString()   ? QStringLiteral("the text \"%1\"").arg(format_version.toString())
                              : format_version.isUndefined() ? QStringLiteral("missing")
                                                             : QStringLiteral("not a number");
        fail(error, QStringLiteral("\"format_version\" is %1; it must be the number %2").arg(shown).arg(kConfigFileVersion));
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
        if (!setting_from_json(*entry, it.value(), file.settings, error)) return std::nullopt;
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

bool same_settings(const ConfigFile& a, const ConfigFile& b) {
    if (a.present != b.present) return false;
    for (const SettingEntry& entry : settings_catalogue()) {
        if (a.has(entry) && !setting_equal(entry, a.settings, b.settings)) return false;
    }
    return true;
}

}  // namespace vk61
