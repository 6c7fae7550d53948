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
#include "ui_mainwindow.h"
#include "update_tab.h"

MainWindow::MainWindow(const WindowSettings& settings, QWidget* parent)
    : QMainWindow(parent),
      settings_(settings),
      ui(new Ui_MainWindow),
      manifests(new vk61::ManifestService(settings.downloads, this)) {
    installMessageHandler();
    ui->setupUi(this);
    updateTab = new UpdateTab(ui, this, manifests, settings_.downloads,
                              {[this] { return comms.get(); }, [this](const QString& text) { showStatus(text); },
                               [this] {
                                   // The update may leave the units with another configuration (or
                                   // none): keep the one they hold now. A failed backup does not
                                   // stop the update.
                                   QString path;
                                   showBackupError(backupBeforeStore(QStringLiteral("before firmware update"), &path));
                                   return path;
                               },
                               [this](const QString& backup, std::uint32_t units) {
                                   rebootAndCheckConfiguration(backup, units);
                               }},
                              this);
    ui->tabWidget->setTabVisible(ui->tabWidget->indexOf(ui->tab_cal), false);
    busWorker = new BusWorker(this);
    configuration = new ConfigurationPanel(this, *ui, busWorker, settings_.config_timeouts);
    devices = new DevicesTab(
        ui->table_devices, ui->pushButton_save_devices, statusBar(), configuration->model(),
        // The packages the table names units and offers updates from.
        // Until the manifest has arrived they are none, and its arrival
        // refreshes the table.
        [this]() -> const QList<vk61::FirmwarePackage>& {
            manifests->request_packages();
            return manifests->firmware_packages();
        },
        busWorker, this, settings_.reboot);
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

MainWindow::~MainWindow() {
    if (comms) comms->disconnect();
    busWorker->stopAndWait();
    updateTab->waitForWorkers();
    comms.reset();
    delete ui;
    ui = nullptr;
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
    connect(ui->pushButton_cancel, &QPushButton::clicked, busWorker, &BusWorker::cancel);
    connect(busWorker, &BusWorker::busyChanged, this, &MainWindow::showBusExchangeRunning);

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

    // The settings form's widgets are connected by the configuration panel,
    // from its binding table.

    // Devices tab (the per-row boxes are connected when rows are built).
    connect(ui->pushButton_save_devices, &QPushButton::clicked, this, &MainWindow::onSaveDevicesClicked);
    connect(ui->pushButton_reboot, &QPushButton::clicked, this, &MainWindow::onRebootClicked);
    connect(ui->pushButton_reboot_2, &QPushButton::clicked, this, &MainWindow::onRebootClicked);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::onMainTabChanged);

    // Configuration menu.
    connect(ui->action_export_configuration, &QAction::triggered, this, &MainWindow::onExportConfigurationClicked);
    connect(ui->action_import_configuration, &QAction::triggered, this, &MainWindow::onImportConfigurationClicked);
    connect(ui->action_configuration_backups, &QAction::triggered, this, &MainWindow::onConfigurationBackupsClicked);

    // The downloads manifest is fetched once at launch, beside the window,
    // so that later offline use finds the memory and disk copies; the devices
    // table shows its names and updates once it has arrived.
    connect(manifests, &vk61::ManifestService::firmware_packages_changed, this, &MainWindow::refreshDeviceTable);
    manifests->load(this, [](const vk61::FetchOutcome& loaded) {
        if (!loaded.ok) qDebug() << "Downloads manifest prefetch at launch failed:" << loaded.error;
    });
}

void MainWindow::initializeDeviceConnection() {
    showStatus(tr("Connecting..."));
    // The window paints "Connecting..." before the link is opened.
    QTimer::singleShot(100, this, &MainWindow::connectToBus);
}

void MainWindow::connectToBus() {
    comms = std::make_unique<vk61::CommsManager>();
    comms->record_frames(settings_.frame_recorder);
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
        QTimer::singleShot(settings_.initial_load_delay_ms, this, [this] {
            if (comms && comms->is_connected() && !busWorker->busy()) onLoadClicked();
        });
    } else {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        showStatus(tr("Failed to connect to EFIS via USB or CAN FD - please check connections"));
        refreshDeviceTable();
    }
}

bool MainWindow::fetchInProgress() const { return updateTab->fetchInProgress(); }

bool MainWindow::busExchangeRunning() const { return busWorker->busy(); }

void MainWindow::showBusExchangeRunning(bool running) {
    for (QPushButton* button : {ui->pushButton_load, ui->pushButton_update, ui->pushButton_save, ui->pushButton_reboot,
                                ui->pushButton_reboot_2}) {
        button->setEnabled(!running);
    }
    for (QAction* action : {ui->action_import_configuration, ui->action_configuration_backups}) action->setEnabled(!running);
    ui->pushButton_cancel->setEnabled(running && busWorker->cancellable());
    configuration->setFormBusy(running);
    if (!running && reloadWhenIdle) {
        reloadWhenIdle = false;
        // After the outcome of the exchange that just ended has been shown.
        QTimer::singleShot(0, this, &MainWindow::onDeviceReconnected);
    }
}

// The update tab's buttons: its object owns the files, flows and workers.
void MainWindow::onBrowseClicked() { updateTab->browseFirmware(); }
void MainWindow::onFetchFwClicked() { updateTab->fetchFirmware(); }
void MainWindow::onStartUpdateClicked() { updateTab->startFirmwareUpdate(); }
void MainWindow::onBrowseAirportsClicked() { updateTab->browseAirports(); }
void MainWindow::onFetchAptDbClicked() { updateTab->fetchAirportDatabase(); }
void MainWindow::onStartAirportClicked() { updateTab->startAirportTransfer(); }
