// Construction, shutdown, the signal-slot wiring and the start of the
// device connection.
#include "main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

#include "bus_worker.h"
#include "comms_manager.h"
#include "configuration_panel.h"
#include "devices_tab.h"
#include "downloads/manifest_service.h"
#include "message_handler.h"
#include "result_text.h"
#include "ui_mainwindow.h"
#include "update_tab.h"

namespace vk61 {

MainWindow::MainWindow(const WindowSettings& settings, QWidget* parent)
    : QMainWindow(parent),
      settings_(settings),
      ui_(new Ui_MainWindow),
      manifests_(new vk61::ManifestService(settings.downloads, this)) {
    installMessageHandler();
    ui_->setupUi(this);
    updateTab_ = new UpdateTab(
        ui_, this, manifests_, settings_.downloads,
        {[this] { return comms_.get(); }, [this](const QString& text) { showStatus(text); },
         [this] {
             // The update may leave the units with another configuration (or
             // none): keep the one they hold now. A failed backup does not
             // stop the update.
             QString path;
             showBackupError(backupBeforeStore(QStringLiteral("before firmware update"), &path));
             return path;
         },
         [this](const QString& backup, std::uint32_t units) { rebootAndCheckConfiguration(backup, units); }},
        this);
    ui_->tabWidget->setTabVisible(ui_->tabWidget->indexOf(ui_->tab_cal), false);
    busWorker_ = new BusWorker(this);
    configuration_ = new ConfigurationPanel(this, *ui_, busWorker_, settings_.config_timeouts);
    devices_ = new DevicesTab(
        ui_->table_devices, ui_->pushButton_save_devices, statusBar(), configuration_->model(),
        // The packages the table names units and offers updates from.
        // Until the manifest has arrived they are none, and its arrival
        // refreshes the table.
        [this]() -> const QList<vk61::FirmwarePackage>& {
            manifests_->request_packages();
            return manifests_->firmware_packages();
        },
        busWorker_, this, settings_.reboot);
    // The devices tab edits its options in the configuration, and shows
    // them again after every load.
    connect(devices_, &DevicesTab::optionEdited, configuration_,
            [this](int index, std::uint32_t value) { configuration_->setValue(index, value); });
    connect(configuration_, &ConfigurationPanel::deviceOptionsPending, devices_, &DevicesTab::showOptionsPending);
    connect(configuration_, &ConfigurationPanel::loaded, devices_, &DevicesTab::refresh);
    connect(devices_, &DevicesTab::devicesBack, this, &MainWindow::onDeviceReconnected);
    showStatus(tr("Initializing..."));

    ui_->text_firmware_file->setEnabled(false);
    ui_->pushButton_start_update->setEnabled(false);
    ui_->progressBar_firmware->setEnabled(false);

    connectSlots();

    for (QWidget* widget : {static_cast<QWidget*>(ui_->label_manual_setting_index),
                            static_cast<QWidget*>(ui_->lineEdit_manual_setting_index),
                            static_cast<QWidget*>(ui_->label_manual_setting_value),
                            static_cast<QWidget*>(ui_->lineEdit_manual_setting_value),
                            static_cast<QWidget*>(ui_->pushButton_read_setting)}) {
        widget->setVisible(false);
    }

    // Runs once the event loop has started, so the window is already shown
    // while the link is opened.
    QTimer::singleShot(0, this, &MainWindow::initializeDeviceConnection);
}

MainWindow::~MainWindow() {
    if (comms_) comms_->disconnect();
    busWorker_->stopAndWait();
    updateTab_->waitForWorkers();
    comms_.reset();
    delete ui_;
    ui_ = nullptr;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (comms_) comms_->disconnect();
    QMainWindow::closeEvent(event);
}

void MainWindow::showStatus(const QString& text) { statusBar()->showMessage(text); }

void MainWindow::connectSlots() {
    // Settings tab actions.
    connect(ui_->pushButton_save, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(ui_->pushButton_load, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connect(ui_->pushButton_update, &QPushButton::clicked, this, &MainWindow::onUpdateClicked);
    connect(ui_->pushButton_cancel, &QPushButton::clicked, busWorker_, &BusWorker::cancel);
    connect(busWorker_, &BusWorker::busyChanged, this, &MainWindow::showBusExchangeRunning);

    // Update tab.
    connect(ui_->pushButton_browse, &QPushButton::clicked, this, &MainWindow::onBrowseClicked);
    connect(ui_->pushButton_fetch_fw, &QPushButton::clicked, this, &MainWindow::onFetchFwClicked);
    connect(ui_->pushButton_start_update, &QPushButton::clicked, this, &MainWindow::onStartUpdateClicked);
    connect(ui_->pushButton_browse_airports, &QPushButton::clicked, this, &MainWindow::onBrowseAirportsClicked);
    connect(ui_->pushButton_fetch_apt_db, &QPushButton::clicked, this, &MainWindow::onFetchAptDbClicked);
    connect(ui_->pushButton_start_airport, &QPushButton::clicked, this, &MainWindow::onStartAirportClicked);
    // The airport controls need a chosen file first.
    ui_->text_firmware_file_2->setEnabled(false);
    ui_->pushButton_start_airport->setEnabled(false);
    ui_->progressBar_airports->setEnabled(false);

    // The settings form's widgets are connected by the configuration panel,
    // from its binding table.

    // Devices tab (the per-row boxes are connected when rows are built).
    connect(ui_->pushButton_save_devices, &QPushButton::clicked, this, &MainWindow::onSaveDevicesClicked);
    connect(ui_->pushButton_reboot, &QPushButton::clicked, this, &MainWindow::onRebootClicked);
    connect(ui_->pushButton_reboot_2, &QPushButton::clicked, this, &MainWindow::onRebootClicked);
    connect(ui_->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::onMainTabChanged);

    // Configuration menu.
    connect(ui_->action_export_configuration, &QAction::triggered, this, &MainWindow::onExportConfigurationClicked);
    connect(ui_->action_import_configuration, &QAction::triggered, this, &MainWindow::onImportConfigurationClicked);
    connect(ui_->action_configuration_backups, &QAction::triggered, this, &MainWindow::onConfigurationBackupsClicked);

    // The downloads manifest is fetched once at launch, beside the window,
    // so that later offline use finds the memory and disk copies; the devices
    // table shows its names and updates once it has arrived.
    connect(manifests_, &vk61::ManifestService::firmware_packages_changed, this, &MainWindow::refreshDeviceTable);
    manifests_->load(this, [](const vk61::FetchResult& loaded) {
        if (!loaded.ok())
            qDebug() << "Downloads manifest prefetch at launch failed:" << vk61::downloadFailureText(loaded);
    });
}

void MainWindow::initializeDeviceConnection() {
    showStatus(tr("Connecting..."));
    // The window paints "Connecting..." before the link is opened.
    QTimer::singleShot(100, this, &MainWindow::connectToBus);
}

void MainWindow::connectToBus() {
    comms_ = std::make_unique<vk61::CommsManager>();
    comms_->record_frames(settings_.frame_recorder);
    configuration_->setComms(comms_.get());
    devices_->setComms(comms_.get());
    // Both callbacks run on the receive thread: they only post to the window.
    comms_->set_devices_changed_callback([this] {
        QMetaObject::invokeMethod(
            this, [this] { refreshDeviceTable(); }, Qt::QueuedConnection);
    });
    comms_->set_reconnected_callback(
        [this] { QMetaObject::invokeMethod(this, &MainWindow::onDeviceReconnected, Qt::QueuedConnection); });

    const vk61::OperationResult connected = comms_->connect();
    logConnectResult(connected);
    showStatus(connectStatusText(connected, comms_->interface_kind()));
    refreshDeviceTable();
    if (connected) {
        QTimer::singleShot(settings_.initial_load_delay_ms, this, [this] {
            if (comms_ && comms_->is_connected() && !busWorker_->busy()) onLoadClicked();
        });
    }
}

bool MainWindow::fetchInProgress() const { return updateTab_->fetchInProgress(); }

bool MainWindow::busExchangeRunning() const { return busWorker_->busy(); }

void MainWindow::showBusExchangeRunning(bool running) {
    for (QPushButton* button : {ui_->pushButton_load, ui_->pushButton_update, ui_->pushButton_save,
                                ui_->pushButton_reboot, ui_->pushButton_reboot_2}) {
        button->setEnabled(!running);
    }
    for (QAction* action : {ui_->action_import_configuration, ui_->action_configuration_backups})
        action->setEnabled(!running);
    ui_->pushButton_cancel->setEnabled(running && busWorker_->cancellable());
    configuration_->setFormBusy(running);
    if (!running && reloadWhenIdle_) {
        reloadWhenIdle_ = false;
        // After the outcome of the exchange that just ended has been shown.
        QTimer::singleShot(0, this, &MainWindow::onDeviceReconnected);
    }
}

// The update tab's buttons: its object owns the files, flows and workers.
void MainWindow::onBrowseClicked() { updateTab_->browseFirmware(); }
void MainWindow::onFetchFwClicked() { updateTab_->fetchFirmware(); }
void MainWindow::onStartUpdateClicked() { updateTab_->startFirmwareUpdate(); }
void MainWindow::onBrowseAirportsClicked() { updateTab_->browseAirports(); }
void MainWindow::onFetchAptDbClicked() { updateTab_->fetchAirportDatabase(); }
void MainWindow::onStartAirportClicked() { updateTab_->startAirportTransfer(); }

}  // namespace vk61
