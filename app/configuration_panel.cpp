// The settings form's edits: each widget writes its setting through setValue
// when the user changes it, as the binding table says. Nothing here talks to
// the bus.
#include "configuration_panel.h"

#include <QColorDialog>
#include <QDebug>
#include <QMainWindow>
#include <QStatusBar>

#include <QAbstractSlider>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>

#include "bus_worker.h"
#include "config/setting_values.h"
#include "core/store_texts.h"
#include "setting_bindings.h"
#include "settings_form.h"
#include "ui_mainwindow.h"

namespace vk61 {

ConfigurationPanel::ConfigurationPanel(QMainWindow* window, Ui_MainWindow& ui, BusWorker* worker,
                                       const ConfigTimeouts& timeouts)
    : QObject(window), window_(window), ui_(ui), worker_(worker), timeouts_(timeouts), bindings_(settingBindings(ui)) {
    for (const char* prefix : vk61::REGISTRATION_PREFIXES)
        ui_.comboBox_reg_prefix->addItem(QString::fromLatin1(prefix));
    applyEntryRanges(bindings_);
    connectForm();
}

void ConfigurationPanel::showStatus(const QString& text) { window_->statusBar()->showMessage(text); }

void ConfigurationPanel::showNotConnected() {
    qDebug() << "No communication interface connected";
    showStatus(tr("Error: %1").arg(notConnectedText()));
}

bool ConfigurationPanel::setValue(int index, std::uint32_t value) {
    if (!model_.edit(index, value)) {
        qDebug() << "Error setting value for index" << index;
        return false;
    }
    updateDeviceOptionsPending();
    return true;
}

void ConfigurationPanel::updateDeviceOptionsPending() {
    // Only the per-unit options (termination, default screens) belong to
    // the devices tab's save.
    emit deviceOptionsPending(model_.has_device_changes());
}

bool ConfigurationPanel::runExchange(std::function<void(ConfigExchange&)> step, std::function<void()> done,
                                     bool cancellable) {
    auto model = std::make_shared<vk61::ConfigModel>(model_);
    vk61::CommsManager* comms = comms_;
    const ConfigTimeouts timeouts = timeouts_;
    return worker_->run<bool>(
        [comms, timeouts, model, step = std::move(step)](const std::atomic<bool>& stop) {
            ConfigExchange exchange(comms, *model, timeouts, &stop);
            step(exchange);
            return true;
        },
        [this, model, done = std::move(done)](bool) {
            model_ = *model;
            updateDeviceOptionsPending();
            done();
        },
        cancellable);
}

// ---- the form's edits: one loop over the binding table ----

void ConfigurationPanel::connectForm() {
    for (const SettingBinding& binding : bindings_) {
        const SettingBinding* row = &binding;
        for (QWidget* widget : binding.widgets) {
            if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
                connect(spin, &QSpinBox::valueChanged, this, [this, row] { editSetting(*row); });
            } else if (auto* number = qobject_cast<QDoubleSpinBox*>(widget)) {
                connect(number, &QDoubleSpinBox::valueChanged, this, [this, row] { editSetting(*row); });
            } else if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
                connect(slider, &QAbstractSlider::valueChanged, this, [this, row] { editSetting(*row); });
            } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
                connect(box, &QComboBox::currentIndexChanged, this, [this, row] { editSetting(*row); });
            } else if (auto* text = qobject_cast<QPlainTextEdit*>(widget)) {
                connect(text, &QPlainTextEdit::textChanged, this, [this, row] { editSetting(*row); });
            } else if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
                connect(radio, &QRadioButton::toggled, this, [this, row] { editSetting(*row); });
            } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
                // A colour: the dialog first, then the button's new colour.
                connect(button, &QPushButton::clicked, this, [this, row, button] {
                    if (pickColour(colourButtonFor(ui_, button))) editSetting(*row);
                });
            }
        }
    }
}

// The user changed a widget: its setting takes what the widgets now spell.
// A number outside the form's range (a widened widget still showing what the
// EFIS held is stepped further) is refused; the widget shows the setting
// again.
void ConfigurationPanel::editSetting(const SettingBinding& binding) {
    const std::vector<std::uint32_t> values = widgetValues(binding, ui_, model_);
    const unsigned first = binding.entry->first_index;
    vk61::ConfigRecord edited = model_.record();
    for (unsigned i = 0; i < values.size(); ++i) vk61::config_set_value(edited, first + i, values[i]);
    const QString violation = vk61::setting_range_violation(*binding.entry, edited, vk61::ValueRange::Entry);
    if (!violation.isEmpty() && !vk61::setting_equal(*binding.entry, edited, model_.record())) {
        qDebug() << "Edit refused:" << violation;
        showStatus(tr("Error: %1; the form keeps the value the EFIS holds").arg(violation));
        showSetting(binding, ui_, model_);
        return;
    }
    for (unsigned i = 0; i < values.size(); ++i) setValue(static_cast<int>(first + i), values[i]);
}

// The dialog opens on the button's current colour, with the picker's own
// colour offered as the second custom colour; cancel changes nothing.
bool ConfigurationPanel::pickColour(const ColourButton& colour) {
    QPushButton* button = ui_.*colour.button;
    const std::uint32_t current = colourOfButton(button).value_or(0xFF000000u);
    QColorDialog::setCustomColor(1, QColor(colour.suggestion));
    const QColor chosen = QColorDialog::getColor(QColor(static_cast<QRgb>(current)), window_,
                                                 QCoreApplication::translate("ColourButton", colour.title),
                                                 QColorDialog::ColorDialogOptions());
    if (!chosen.isValid()) return false;
    button->setStyleSheet(colourStyleSheet(chosen.rgb()));
    return true;
}

}  // namespace vk61
