#include "result_text.h"

#include <QCoreApplication>
#include <QDebug>

#include "config/setting_indices.h"
#include "config/setting_values.h"
#include "core/store_texts.h"

namespace vk61 {

namespace {

// The texts keep the translation contexts of the panels that first showed them.
QString panelText(const char* text) { return QCoreApplication::translate("ConfigurationPanel", text); }
QString updateTabText(const char* text) { return QCoreApplication::translate("vk61::UpdateTab", text); }

QString errorText(const QString& why) { return panelText("Error: %1").arg(why); }

struct HeaderMessages {
    unsigned index;
    const char* debug_text;
    const char* status_text;
};

const HeaderMessages kHeaderMessages[] = {
    {kIndexChecksum, "Error reading checksum value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read checksum from device")},
    {kIndexMagic, "Error reading magic value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read magic number from device")},
    {kIndexMemoryVersion, "Error reading memory version value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read memory version from device")},
    {kIndexNumElements, "Error reading num_elements value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read num_elements from device")},
};

const HeaderMessages* headerMessages(unsigned index) {
    for (const HeaderMessages& header : kHeaderMessages) {
        if (header.index == index) return &header;
    }
    return nullptr;
}

void logNotConnected() { qDebug() << "No communication interface connected"; }

}  // namespace

QString connectStatusText(const OperationResult& result, InterfaceKind kind) {
    const auto windowText = [](const char* text) { return QCoreApplication::translate("vk61::MainWindow", text); };
    if (!result.ok()) return windowText("Failed to connect to EFIS via USB or CAN FD - please check connections");
    return kind == InterfaceKind::CanFd ? windowText("Connected via CAN FD") : windowText("Connected via USB HID");
}

void logConnectResult(const OperationResult& result) {
    if (!result.ok()) qDebug() << "Failed to establish connection via USB HID or CAN FD";
}

QString loadStatusText(const LoadResult& result) {
    switch (result.status) {
    case LoadStatus::NotConnected: return errorText(notConnectedText());
    case LoadStatus::Cancelled: return panelText("Load cancelled; the form shows what it showed before");
    case LoadStatus::HeaderUnread: {
        const HeaderMessages* header = headerMessages(result.index);
        return header != nullptr ? panelText(header->status_text) : QString();
    }
    case LoadStatus::HeaderErased: return panelText("Error: The EFIS holds no stored configuration");
    case LoadStatus::Loaded: break;
    }
    // A load that could not read everything, or whose checksum does not
    // match, must not end on a success message.
    if (result.stopped_at >= 0) {
        return panelText(
                   "Warning: The EFIS stopped answering at setting %1; %2 setting(s) are marked as not read; "
                   "nothing can be saved until \"Load settings from EFIS\" reads them")
            .arg(result.stopped_at - static_cast<int>(kSilentSettingsLimit))
            .arg(result.unread.size());
    }
    if (!result.unread.empty()) {
        return panelText(
                   "Warning: %1 setting(s) could not be read and are marked as not read; "
                   "nothing can be saved until \"Load settings from EFIS\" reads them")
            .arg(result.unread.size());
    }
    if (!result.crc_ok) return panelText("Warning: Configuration CRC verification failed");
    return panelText("Configuration successfully loaded from device");
}

void logLoadResult(const LoadResult& result) {
    switch (result.status) {
    case LoadStatus::NotConnected: logNotConnected(); return;
    case LoadStatus::Cancelled: qDebug() << "Load cancelled"; return;
    case LoadStatus::HeaderUnread:
        if (const HeaderMessages* header = headerMessages(result.index)) qDebug() << header->debug_text;
        return;
    case LoadStatus::HeaderErased:
        qDebug() << "Header word" << result.index << "reads 0xFFFFFFFF: no stored configuration";
        return;
    case LoadStatus::Loaded: return;
    }
}

QString updateStatusText(const UpdateResult& result) {
    switch (result.status) {
    case UpdateStatus::NotConnected:
    case UpdateStatus::RuleRefused: return errorText(describe(result));
    case UpdateStatus::NothingPending:
    case UpdateStatus::Sent: break;
    }
    return describe(result);
}

void logUpdateResult(const UpdateResult& result) {
    if (result.status == UpdateStatus::NotConnected) logNotConnected();
    if (result.status == UpdateStatus::RuleRefused) qDebug() << "Not sending:" << result.refusal;
}

QString storeStatusText(const StoreResult& result, bool device_options) {
    switch (result.status) {
    case StoreStatus::NotConnected: return errorText(notConnectedText());
    case StoreStatus::NoDeviceChanges: return panelText("No device changes to save");
    case StoreStatus::UnknownSettings:
        return panelText(
                   "Error: %1 setting(s) were not read from the EFIS; load the settings again before saving. "
                   "Nothing was sent")
            .arg(result.unknown);
    case StoreStatus::RuleRefused: return errorText(refusedText(result.refusal));
    case StoreStatus::MemoryVersionUnread: return panelText("Error: Failed to read memory version from device");
    case StoreStatus::NumElementsUnread: return panelText("Error: Failed to read num_elements from device");
    case StoreStatus::WriteFailed: {
        QString text;
        if (device_options && result.index == static_cast<int>(kIndexTerminationMask)) {
            text = panelText("Error: Failed to send termination setting to device");
        } else if (device_options && is_device_option(result.index)) {
            text = panelText("Error: Failed to send default screen setting to device");
        } else {
            text = panelText("Error: Failed to send configuration value for index %1; nothing was stored")
                       .arg(result.index);
        }
        // What was undone follows the fixed text.
        if (const QString writeBack = writeBackText(result); !writeBack.isEmpty())
            text += QStringLiteral(" — ") + writeBack;
        return text;
    }
    case StoreStatus::StoreFailed:
        return device_options ? panelText("Error: Failed to store device settings to EEPROM")
                              : panelText("Error: Failed to store configuration to EEPROM");
    case StoreStatus::ChecksumUnread:
        return panelText(
            "Error: The EFIS did not report its checksum after the store; "
            "the configuration is not confirmed as saved");
    case StoreStatus::ChecksumMismatch:
        return panelText(
                   "Error: The EFIS holds checksum 0x%1 after the store, not 0x%2; "
                   "the configuration is not confirmed as saved")
            .arg(QStringLiteral("%1").arg(result.read_back, 8, 16, QLatin1Char('0')).toUpper(),
                 QStringLiteral("%1").arg(result.crc, 8, 16, QLatin1Char('0')).toUpper());
    case StoreStatus::Saved:
        return device_options ? panelText("Device settings saved to EEPROM successfully")
                              : panelText("Configuration saved to EEPROM successfully");
    }
    return {};
}

void logStoreResult(const StoreResult& result, bool device_options) {
    switch (result.status) {
    case StoreStatus::NotConnected: logNotConnected(); return;
    case StoreStatus::UnknownSettings:
        qDebug() << "Not storing:" << result.unknown << "setting(s) were not read";
        return;
    case StoreStatus::RuleRefused: qDebug() << "Not storing:" << result.refusal; return;
    case StoreStatus::MemoryVersionUnread: qDebug() << "Error reading memory version value"; return;
    case StoreStatus::NumElementsUnread: qDebug() << "Error reading num_elements value"; return;
    case StoreStatus::WriteFailed:
        if (device_options && result.index == static_cast<int>(kIndexTerminationMask)) {
            qDebug() << "Error sending termination resistor value to device";
        } else if (device_options && is_device_option(result.index)) {
            qDebug() << "Error sending default screen value for index" << result.index;
        } else {
            qDebug() << "Failed to send value for index" << result.index;
        }
        return;
    case StoreStatus::StoreFailed:
        if (device_options) {
            qDebug() << "Error storing device configuration to EEPROM";
        } else {
            qDebug() << "Error storing configuration to EEPROM";
        }
        return;
    case StoreStatus::ChecksumUnread: qDebug() << "Could not read the checksum back after the store"; return;
    case StoreStatus::ChecksumMismatch:
        qDebug() << "Stored checksum mismatch: EFIS holds"
                 << QStringLiteral("%1").arg(result.read_back, 8, 16, QLatin1Char('0')).toUpper() << "sent"
                 << QStringLiteral("%1").arg(result.crc, 8, 16, QLatin1Char('0')).toUpper();
        return;
    case StoreStatus::NoDeviceChanges:
    case StoreStatus::Saved: return;
    }
}

QString airportStatusText(const AirportResult& result) {
    if (result.ok()) {
        return updateTabText("Airport database transfer finished on all %1 device(s)").arg(result.units_total);
    }
    return updateTabText("Airport database transfer failed on UID %1 (%2 / %3 succeeded)")
        .arg(result.failed_uid)
        .arg(result.units_done)
        .arg(result.units_total);
}

QString airportUnitsText(const AirportResult& result, bool together) {
    // One at a time, the first failure ends the list: the status says it all.
    if (result.ok() || !together || result.units.empty()) return {};
    return updateTabText("Airport database transfer failed: %1").arg(QString::fromStdString(describe(result)));
}

QString rebootStatusText(const RebootResult& result) {
    // A command that never left is an error; units that stay away are the
    // wait's answer, said as it is.
    if (result.end == RebootEnd::NotSent) return errorText(describe(result));
    return describe(result);
}

QString downloadFailureText(const DownloadResult& result) { return describe(result); }

}  // namespace vk61
