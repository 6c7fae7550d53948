#include "settings_form.h"

#include <QColor>
#include <QRegularExpression>

#include "config/setting_values.h"

namespace vk61 {

const ColourButton& colourButtonFor(const Ui_MainWindow& ui, const QPushButton* button) {
    for (const ColourButton& colour : kColourButtons) {
        if (ui.*colour.button == button) return colour;
    }
    qFatal("no colour button %s", qPrintable(button->objectName()));
}

QString colourStyleSheet(std::uint32_t argb) {
    // QColor(QRgb) ignores the alpha byte; name() is "#rrggbb" in lower case.
    return QStringLiteral("background-color: %1;").arg(QColor(static_cast<QRgb>(argb)).name());
}

std::optional<std::uint32_t> colourOfButton(const QPushButton* button) {
    static const QRegularExpression pattern(QStringLiteral("background-color: #([0-9a-fA-F]{6});"));
    const QRegularExpressionMatch match = pattern.match(button->styleSheet());
    if (!match.hasMatch()) return std::nullopt;
    return vk61::opaque_colour(match.captured(1).toUInt(nullptr, 16));
}

vk61::DisplayUnits unitsOfForm(const Ui_MainWindow& ui) {
    return {ui.comboBox_airspeed->currentIndex(), ui.comboBox_altitude->currentIndex(),
            ui.comboBox_temp->currentIndex(), ui.comboBox_pressure->currentIndex()};
}

std::uint32_t icaoAddressOfForm(const Ui_MainWindow& ui) {
    const QString text = ui.text_icao->toPlainText().trimmed();
    if (text.isEmpty()) return 0;
    static const QRegularExpression hex_only(QStringLiteral("^[\\da-fA-F]+$"));
    bool ok = false;
    const qulonglong number = hex_only.match(text).hasMatch() ? text.toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
    if (!ok || number > 0xFFFFFFFFull) return 0;
    return static_cast<std::uint32_t>(number & 0xFFFFFFu);
}

vk61::RegistrationBytes registrationOfForm(const Ui_MainWindow& ui) {
    // toLatin1 turns every character outside Latin-1 into one '?', so cutting
    // the Latin-1 bytes to 11 is cutting the characters to 11.
    return vk61::join_registration(ui.comboBox_reg_prefix->currentText().toLatin1().toStdString(),
                                   ui.text_registration_num->toPlainText().toLatin1().toStdString());
}

}  // namespace vk61
