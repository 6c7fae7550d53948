// Setting values as the command line reads and writes them: the JSON value
// of the configuration files, so that what `config get` prints `config set`
// takes back.
#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>
#include <string>

#include "config/settings_catalogue.h"

namespace vk61::cli {

// "170", "#102030", "D-EXYZ", "true", {"airspeed":"Knots",...} compact.
QString json_value_text(const QJsonValue& value);

// NAME=VALUE: VALUE as JSON when it reads as JSON (170, true, {...}),
// else as text (#102030, D-EXYZ).
struct Assignment {
    const SettingEntry* entry = nullptr;
    QJsonValue value;
};
// The assignment, or nullopt with *error naming what is wrong.
std::optional<Assignment> parse_assignment(const std::string& text, QString* error);

}  // namespace vk61::cli
