// The devices table: one row per registry record, with the unit's state,
// name, serial number, update availability and its two per-unit options.
#include "devices_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>

#include <algorithm>
#include <bit>
#include <utility>

#include "bus_worker.h"
#include "comms_manager.h"
#include "config/config_model.h"
#include "config/settings_catalogue.h"
#include "core/device_text.h"
#include "comms/protocol.h"
#include "downloads/package_selection.h"
#include "unread_settings.h"

namespace vk61 {

namespace {

constexpr int kTableFontPointSize = 11;
// Option boxes exist only for UIDs that the termination mask and the
// default-screen bytes can hold.
constexpr std::uint8_t kMaxOptionUid = vk61::protocol::kHighestUid;

enum Column { ColConnected, ColDevice, ColSerial, ColUpdate, ColTermination, ColScreen };

// Whether an option box is offered (its unit has options, its setting was
// read), whatever a running exchange says for the moment.
constexpr char kOfferedProperty[] = "vk61Offered";

QTableWidgetItem* makeItem(const QString& text, Qt::Alignment alignment, const QFont& font) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    item->setFont(font);
    return item;
}

QWidget* centredCell(QWidget* control) {
    auto* cell = new QWidget;
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignCenter);
    layout->addWidget(control);
    return cell;
}

}  // namespace

DevicesTab::DevicesTab(QTableWidget* table, QPushButton* save_button, QStatusBar* status_bar,
                       const vk61::ConfigModel& model, PackageList packages, BusWorker* worker, QObject* parent,
                       RebootWaitTimings timings)
    : QObject(parent),
      table_(table),
      save_button_(save_button),
      status_bar_(status_bar),
      model_(model),
      packages_(std::move(packages)),
      worker_(worker),
      timings_(timings) {
    if (worker_ != nullptr) connect(worker_, &BusWorker::busyChanged, this, &DevicesTab::showExchangeRunning);
    save_button_->setEnabled(false);
    table->setRowCount(0);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    table->horizontalHeader()->setSectionsClickable(false);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    fitTableHeight();
}

void DevicesTab::showStatus(const QString& text) { status_bar_->showMessage(text); }

void DevicesTab::showOptionsPending(bool pending) {
    options_pending_ = pending;
    save_button_->setEnabled(options_pending_ && !exchangeRunning());
}

bool DevicesTab::exchangeRunning() const { return worker_ != nullptr && worker_->busy(); }

void DevicesTab::showExchangeRunning() {
    const bool busy = exchangeRunning();
    save_button_->setEnabled(options_pending_ && !busy);
    // The rows stay; each box is offered again as its row was built.
    for (int row = 0; row < table_->rowCount(); ++row) {
        for (const int column : {ColTermination, ColScreen}) {
            QWidget* cell = table_->cellWidget(row, column);
            if (cell == nullptr) continue;
            for (QWidget* box : cell->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                box->setEnabled(!busy && box->property(kOfferedProperty).toBool());
            }
        }
    }
}

void DevicesTab::fitTableHeight() {
    QTableWidget* table = table_;
    table->resizeRowsToContents();
    int height = table->horizontalHeader()->height() + 2 * table->frameWidth();
    for (int row = 0; row < table->rowCount(); ++row) height += table->rowHeight(row);
    table->setFixedHeight(height);
}

void DevicesTab::refresh() {
    QTableWidget* table = table_;
    table->setRowCount(0);
    QFont font = table->font();
    font.setPointSize(kTableFontPointSize);
    table->setFont(font);

    std::vector<vk61::DeviceInfo> units;
    if (comms_) units = comms_->device_snapshot();
    if (units.empty()) {
        fitTableHeight();
        return;
    }

    std::stable_sort(units.begin(), units.end(), [](const vk61::DeviceInfo& a, const vk61::DeviceInfo& b) {
        const bool a_first = a.type_code() == vk61::protocol::kTypeHalvard;
        const bool b_first = b.type_code() == vk61::protocol::kTypeHalvard;
        if (a_first != b_first) return a_first;
        return a.uid < b.uid;
    });

    const QList<vk61::FirmwarePackage>& packages = packages_();
    const bool link_connected = comms_->is_connected();
    const std::uint32_t termination = model_.value(vk61::kIndexTerminationMask);

    table->setRowCount(static_cast<int>(units.size()));
    for (int row = 0; row < static_cast<int>(units.size()); ++row) {
        const vk61::DeviceInfo& unit = units[static_cast<std::size_t>(row)];

        QString name;
        QString update = tr("Unknown");
        QString serial;
        if (unit.is_placeholder()) {
            name = tr("Discovering…");
            update = QStringLiteral("—");
            serial = tr("UID %1").arg(unit.uid);
        } else {
            if (const vk61::FirmwarePackage* package = vk61::find_firmware_for_device(packages, unit.device_id)) {
                name = package->display_name.isEmpty() ? package->device_type : package->display_name;
                update = vk61::is_firmware_older(unit.firmware, *package) ? tr("Yes") : tr("No");
            }
            serial = serialText(unit.device_id);
        }
        if (name.isEmpty()) name = unitTypeName(unit.type_code());

        table->setItem(row, ColConnected,
                       makeItem(countsAsConnected(unit, link_connected) ? QStringLiteral("✅") : QStringLiteral("❌"),
                                Qt::AlignHCenter, font));
        table->setItem(row, ColDevice, makeItem(name, Qt::AlignLeft, font));
        table->setItem(row, ColSerial, makeItem(serial, Qt::AlignHCenter, font));
        table->setItem(row, ColUpdate, makeItem(update, Qt::AlignHCenter, font));

        const bool has_options = unit.uid <= kMaxOptionUid;

        auto* termination_box = new QCheckBox;
        termination_box->setFont(font);
        termination_box->setProperty("deviceUid", unit.uid);
        {
            const QSignalBlocker blocker(termination_box);
            termination_box->setChecked(has_options && (termination >> unit.uid) & 1u);
        }
        // An option word the last load could not read is not offered: one
        // ticked box would send the unread bits of every other unit.
        const bool termination_known = model_.is_known(vk61::kIndexTerminationMask);
        termination_box->setProperty(kOfferedProperty, has_options && termination_known);
        termination_box->setEnabled(has_options && termination_known && !exchangeRunning());
        if (!termination_known) termination_box->setToolTip(notReadToolTip());
        connect(termination_box, &QCheckBox::toggled, this,
                [this, termination_box](bool on) { terminationToggled(termination_box, on); });
        table->setCellWidget(row, ColTermination, centredCell(termination_box));

        auto* screen_box = new QComboBox;
        screen_box->setFont(font);
        screen_box->setProperty("deviceUid", unit.uid);
        // The screen code is the position in the catalogue's list.
        for (std::size_t code = 0; code < vk61::kDefaultScreenNames.size(); ++code) {
            const std::string_view name = vk61::kDefaultScreenNames[code];
            screen_box->addItem(tr(std::string(name).c_str()), static_cast<int>(code));
        }
        {
            const QSignalBlocker blocker(screen_box);
            int code = has_options ? model_.record().default_screen(unit.uid) : 0;
            if (code >= 7) code = 1;
            const int index = screen_box->findData(code);
            screen_box->setCurrentIndex(index >= 0 ? index : 0);
        }
        const bool screen_known = has_options && model_.is_known(vk61::kIndexDefaultScreenFirst + unit.uid / 4);
        screen_box->setProperty(kOfferedProperty, has_options && screen_known);
        screen_box->setEnabled(has_options && screen_known && !exchangeRunning());
        if (has_options && !screen_known) screen_box->setToolTip(notReadToolTip());
        connect(screen_box, &QComboBox::currentIndexChanged, this,
                [this, screen_box](int index) { defaultScreenChosen(screen_box, index); });
        table->setCellWidget(row, ColScreen, centredCell(screen_box));
    }
    fitTableHeight();
}

void DevicesTab::terminationToggled(QCheckBox* box, bool on) {
    const unsigned uid = box->property("deviceUid").toUInt();
    if (uid > kMaxOptionUid) return;
    const std::uint32_t mask = model_.value(vk61::kIndexTerminationMask);
    const std::uint32_t bit = 1u << uid;
    if (!on) {
        emit optionEdited(vk61::kIndexTerminationMask, mask & ~bit);
        return;
    }
    const std::uint32_t wanted = mask | bit;
    if (std::popcount(wanted) < 3) {
        emit optionEdited(vk61::kIndexTerminationMask, wanted);
        return;
    }
    {
        const QSignalBlocker blocker(box);
        box->setChecked(false);
    }
    showStatus(tr("Only two devices may have termination enabled at the same time."));
}

void DevicesTab::defaultScreenChosen(QComboBox* box, int index) {
    if (box == nullptr) return;
    const unsigned uid = box->property("deviceUid").toUInt();
    if (uid > kMaxOptionUid) return;
    const int value = box->itemData(index).toInt();
    vk61::ConfigRecord edited = model_.record();
    edited.set_default_screen(static_cast<std::uint8_t>(uid), static_cast<std::uint8_t>(value));
    const unsigned setting = vk61::kIndexDefaultScreenFirst + uid / 4;
    emit optionEdited(static_cast<int>(setting), vk61::config_get_value(edited, setting));
}

}  // namespace vk61
