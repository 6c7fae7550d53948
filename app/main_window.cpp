// Construction, shutdown, the signal-slot wiring and the start of the
// device connection.
#include "main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

#include "comms_manager.h"
#include "configuration_panel.h"
#include "devices_tab.h"
#include "downloads/manifest_source.h"
#include "message_handler.h"
#include "settings_form.h"
#include "ui_mainwindow.h"
#include "window_testing_hooks.h"

namespace {
constexpr int kDefaultInitialLoadDelayMs = 1500;
int g_initial_load_delay_ms = kDefaultInitialLoadDelayMs;
}  // namespace

void setInitialLoadDelayForTesting(int delay_ms) {
    g_initial_load_delay_ms = delay_ms > 0 ? delay_ms : kDefaultInitialLoadDelayMs;
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow) {
    installMessageHandler();
    ui->setupUi(this);
    ui->tabWidget->setTabVisible(ui->tabWidget->indexOf(ui->tab_cal), false);
    configuration = new ConfigurationPanel(this, *ui);
    devices = new DevicesTab(
        ui->table_devices, ui->pushButton_save_devices, statusBar(), configuration->model(),
        // The packages the table names units and offers updates from.
        [this]() -> const QList<vk61::FirmwarePackage>& {
            if (firmwarePackages.isEmpty()) vk61::load_firmware_packages(&firmwarePackages, nullptr);
            return firmwarePackages;
        },
        this);
    // The devices tab edits its options in the configuration, and shows
    // them again after every load.
    connect(devices, &DevicesTab::optionEdited, configuration,
            [this](int index, std::uint32_t value) { configuration->setValue(index, value); });
    connect(configuration, &ConfigurationPanel::deviceOptionsPending, devices, &DevicesTab::showOptionsPending);
    connect(configuration, &ConfigurationPanel::loaded, devices, &DevicesTab::refresh);
    connect(devices, &DevicesTab::devicesBack, this, &MainWindow::onDeviceReconnected);
    showStatus(tr("Initializing..."));

    ui->text_firmware_file->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->progressBar_firmware->setEnabled(false);

    connectSlots();

    for (QWidget* widget : {static_cast<QWidget*>(ui->label_manual_setting_index),
                            static_cast<QWidget*>(ui->lineEdit_manual_setting_index),
                            static_cast<QWidget*>(ui->label_manual_setting_value),
                            static_cast<QWidget*>(ui->lineEdit_manual_setting_value),
                            static_cast<QWidget*>(ui->pushButton_read_setting)}) {
        widget->setVisible(false);
    }

    // Runs once the event loop has started, so the window is already shown
    // while the link is opened.
    QTimer::singleShot(0, this, &MainWindow::initializeDeviceConnection);
}

namespace {
// A worker holds the manager and posts to the window, so neither may go away
// while it runs. disconnect() has already failed its current bus operation,
// so it ends promptly; the bounded wait is the normal path and the unbounded
// one only guards against a worker that is still reading its file.
void waitForWorker(QThread* thread, const char* name) {
    if (thread == nullptr || !thread->isRunning()) return;
    if (!thread->wait(5000)) {
        qWarning() << name << "worker still running 5 s after disconnect; waiting for it to end";
        thread->wait();
    }
}
}  // namespace

MainWindow::~MainWindow() {
    if (comms) comms->disconnect();
    waitForWorker(firmwareThread, "Firmware");
    waitForWorker(airportThread, "Airport");
    airportThread = nullptr;
    // The airport completion clears airportThread while its thread is still
    // returning; the worker threads are children of the window and must have
    // ended before the base class deletes them.
    for (QThread* thread : findChildren<QThread*>(Qt::FindDirectChildrenOnly)) waitForWorker(thread, "Transfer");
    comms.reset();
    delete ui;
    ui = nullptr;
    firmwareThread = nullptr;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (comms) comms->disconnect();
    QMainWindow::closeEvent(event);
}

void MainWindow::showStatus(const QString& text) { statusBar()->showMessage(text); }

void MainWindow::connectSlots() {
    // Settings tab actions.
    connect(ui->pushButton_save, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(ui->pushButton_load, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connect(ui->pushButton_update, &QPushButton::clicked, this, &MainWindow::onUpdateClicked);

    // Update tab.
    connect(ui->pushButton_browse, &QPushButton::clicked, this, &MainWindow::onBrowseClicked);
    connect(ui->pushButton_fetch_fw, &QPushButton::clicked, this, &MainWindow::onFetchFwClicked);
    connect(ui->pushButton_start_update, &QPushButton::clicked, this, &MainWindow::onStartUpdateClicked);
    connect(ui->pushButton_browse_airports, &QPushButton::clicked, this, &MainWindow::onBrowseAirportsClicked);
    connect(ui->pushButton_fetch_apt_db, &QPushButton::clicked, this, &MainWindow::onFetchAptDbClicked);
    connect(ui->pushButton_start_airport, &QPushButton::clicked, this, &MainWindow::onStartAirportClicked);
    // The airport controls need a chosen file first.
    ui->text_firmware_file_2->setEnabled(false);
    ui->pushButton_start_airport->setEnabled(false);
    ui->progressBar_airports->setEnabled(false);

    // Colour pickers: one dialog flow for the ten buttons.
    for (const ColourButton& colour : kColourButtons) {
        connect(ui->*colour.button, &QPushButton::clicked, configuration,
                [this, &colour] { configuration->pickColour(colour); });
    }

    // Units, speeds, voltages.
    for (QComboBox* box : {ui->comboBox_airspeed, ui->comboBox_altitude, ui->comboBox_temp, ui->comboBox_pressure}) {
        connect(box, &QComboBox::currentIndexChanged, this, &MainWindow::onUnitsChanged);
    }
    connect(ui->spinBox_vmin, &QSpinBox::valueChanged, this, &MainWindow::onVminChanged);
    connect(ui->spinBox_vs0, &QSpinBox::valueChanged, this, &MainWindow::onVs0Changed);
    connect(ui->spinBox_vs1, &QSpinBox::valueChanged, this, &MainWindow::onVs1Changed);
    connect(ui->spinBox_vfe, &QSpinBox::valueChanged, this, &MainWindow::onVfeChanged);
    connect(ui->spinBox_vn0, &QSpinBox::valueChanged, this, &MainWindow::onVn0Changed);
    connect(ui->spinBox_vne, &QSpinBox::valueChanged, this, &MainWindow::onVneChanged);
    connect(ui->spinBox_vref, &QSpinBox::valueChanged, this, &MainWindow::onVrefChanged);
    connect(ui->spinBox_vlo, &QSpinBox::valueChanged, this, &MainWindow::onVloChanged);
    connect(ui->min_volt_warn_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMinVoltChanged);
    connect(ui->max_volt_warn_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMaxVoltChanged);
    connect(ui->min_volt_alert_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMinVoltAlertChanged);
    connect(ui->max_volt_alert_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMaxVoltAlertChanged);

    // Registration, display, attitude, identity, map.
    connect(ui->comboBox_reg_prefix, &QComboBox::currentTextChanged, this, &MainWindow::onRegistrationChanged);
    connect(ui->text_registration_num, &QPlainTextEdit::textChanged, this, &MainWindow::onRegistrationChanged);
    connect(ui->backlight_slider, &QSlider::valueChanged, this, &MainWindow::onBacklightBrightnessChanged);
    connect(ui->text_bg_alpha_slider, &QSlider::valueChanged, this, &MainWindow::onTextBgAlphaChanged);
    connect(ui->roll_corr_spinbox, &QDoubleSpinBox::valueChanged, this, &MainWindow::onRollCorrectionChanged);
    connect(ui->pitch_corr_spinbox, &QDoubleSpinBox::valueChanged, this, &MainWindow::onPitchCorrectionChanged);
    connect(ui->text_icao, &QPlainTextEdit::textChanged, this, &MainWindow::onOwnshipIcaoChanged);
    connect(ui->comboBox_emitter_cat, &QComboBox::currentIndexChanged, this, &MainWindow::onEmitterCatChanged);
    connect(ui->comboBox_map_view, &QComboBox::currentIndexChanged, this, &MainWindow::onMapViewChanged);
    connect(ui->radioButton_use_icao, &QRadioButton::toggled, this, &MainWindow::onIcaoAddressTypeChanged);
    connect(ui->radioButton_rand_icao, &QRadioButton::toggled, this, &MainWindow::onIcaoAddressTypeChanged);

    // Devices tab (the per-row boxes are connected when rows are built).
    connect(ui->pushButton_save_devices, &QPushButton::clicked, this, &MainWindow::onSaveDevicesClicked);
    connect(ui->pushButton_reboot, &QPushButton::clicked, this, &MainWindow::onRebootClicked);
    connect(ui->pushButton_reboot_2, &QPushButton::clicked, this, &MainWindow::onRebootClicked);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::onMainTabChanged);

    // Configuration menu.
    connect(ui->action_export_configuration, &QAction::triggered, this, &MainWindow::onExportConfigurationClicked);
    connect(ui->action_import_configuration, &QAction::triggered, this, &MainWindow::onImportConfigurationClicked);
    connect(ui->action_configuration_backups, &QAction::triggered, this, &MainWindow::onConfigurationBackupsClicked);

    // The downloads manifest is fetched once at launch (bounded by the fetch
    // time-out) so that later offline use finds the memory and disk copies.
    QString error;
    if (!vk61::prefetch_manifest(&error)) {
        qDebug() << "Downloads manifest prefetch at launch failed:" << error;
    }
}

void MainWindow::initializeDeviceConnection() {
    showStatus(tr("Connecting..."));
    QCoreApplication::processEvents();
    QThread::msleep(100);

    comms = std::make_unique<vk61::CommsManager>();
    configuration->setComms(comms.get());
    devices->setComms(comms.get());
    // Both callbacks run on the receive thread: they only post to the window.
    comms->set_devices_changed_callback(
        [this] { QMetaObject::invokeMethod(this, [this] { refreshDeviceTable(); }, Qt::QueuedConnection); });
    comms->set_reconnected_callback(
        [this] { QMetaObject::invokeMethod(this, &MainWindow::onDeviceReconnected, Qt::QueuedConnection); });

    if (comms->connect()) {
        showStatus(comms->interface_kind() == vk61::InterfaceKind::CanFd ? tr("Connected via CAN FD")
                                                                         : tr("Connected via USB HID"));
        refreshDeviceTable();
        QTimer::singleShot(g_initial_load_delay_ms, this, [this] {
            if (comms && comms->is_connected()) onLoadClicked();
        });
    } else {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        showStatus(tr("Failed to connect to EFIS via USB or CAN FD - please check connections"));
        refreshDeviceTable();
    }
}
