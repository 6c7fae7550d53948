#include "config_text.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace vk61::cli {

QString json_value_text(const QJsonValue& value) {
    if (value.isString()) return value.toString();
    // A one-element array is the simplest document that holds any value.
    const QByteArray compact = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(compact.mid(1, compact.size() - 2));
}

std::optional<Assignment> parse_assignment(const std::string& text, QString* error) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        *error = QStringLiteral("\"%1\" is not NAME=VALUE").arg(QString::fromStdString(text));
        return std::nullopt;
    }
    const std::string name = text.substr(0, equals);
    const SettingEntry* entry = find_setting(name);
    if (entry == nullptr) {
        *error = QStringLiteral("Unknown setting \"%1\"").arg(QString::fromStdString(name));
        return std::nullopt;
    }
    const QString raw = QString::fromStdString(text.substr(equals + 1));
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + raw.toUtf8() + "]", &parse);
    QJsonValue value(raw);
    if (parse.error == QJsonParseError::NoError && document.array().size() == 1) value = document.array().at(0);
    // Checked against a record of zeros here, and again against the EFIS's
    // own record before anything is sent.
    ConfigRecord scratch;
    if (!setting_from_json(*entry, value, scratch, error, ValueRange::Entry)) return std::nullopt;
    return Assignment{entry, value};
}

}  // namespace vk61::cli
