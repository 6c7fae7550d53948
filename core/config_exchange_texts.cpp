// The sentences describe() gives for the configuration exchange's results.
#include <QStringList>

#include "config/settings_catalogue.h"
#include "core/config_exchange.h"
#include "core/store_texts.h"

namespace {

// "0x0000ABCD".
QString hex32(std::uint32_t value) {
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

}  // namespace

QString describe(const LoadResult& result) {
    switch (result.status) {
    case LoadStatus::NotConnected: return notConnectedText();
    case LoadStatus::HeaderUnread:
        return QStringLiteral("The EFIS did not answer the read of header word %1").arg(result.index);
    case LoadStatus::HeaderErased: return QStringLiteral("The EFIS holds no stored configuration");
    case LoadStatus::Cancelled: return QStringLiteral("Interrupted");
    case LoadStatus::Loaded: break;
    }
    if (result.unread.empty()) return QStringLiteral("Configuration successfully loaded from device");
    const QStringList names = vk61::distinct_setting_names(result.unread);
    return QStringLiteral("%1 setting(s) could not be read: %2")
        .arg(names.size())
        .arg(names.join(QStringLiteral(", ")));
}

QString describe(const UpdateResult& result) {
    switch (result.status) {
    case UpdateStatus::NotConnected: return notConnectedText();
    case UpdateStatus::RuleRefused: return refusedText(result.refusal);
    case UpdateStatus::NothingPending: return QStringLiteral("No changes to send");
    case UpdateStatus::Sent: break;
    }
    if (result.failed > 0) return QStringLiteral("Sent %1 value(s), %2 failed").arg(result.sent).arg(result.failed);
    return QStringLiteral("Successfully sent %1 configuration value(s) to device").arg(result.sent);
}

QString describe(const StoreResult& result) {
    switch (result.status) {
    case StoreStatus::Saved: return QStringLiteral("Configuration saved to EEPROM successfully");
    case StoreStatus::NotConnected: return notConnectedText();
    case StoreStatus::NoDeviceChanges: return QStringLiteral("No device changes to save");
    case StoreStatus::UnknownSettings:
        return QStringLiteral("%1 setting(s) are unknown; nothing was stored").arg(result.unknown);
    case StoreStatus::RuleRefused: return refusedText(result.refusal);
    case StoreStatus::MemoryVersionUnread:
    case StoreStatus::NumElementsUnread:
        return QStringLiteral("The EFIS did not answer the header reads; nothing was stored");
    case StoreStatus::WriteFailed: {
        QString text =
            QStringLiteral("Setting %1 was not acknowledged; nothing was stored")
                .arg(vk61::distinct_setting_names({static_cast<unsigned>(result.index)}).join(QStringLiteral(", ")));
        if (const QString writeBack = writeBackText(result); !writeBack.isEmpty())
            text += QStringLiteral("; ") + writeBack;
        return text;
    }
    case StoreStatus::StoreFailed: return QStringLiteral("The units did not acknowledge the store");
    case StoreStatus::ChecksumUnread: return QStringLiteral("Stored, but the checksum could not be read back");
    case StoreStatus::ChecksumMismatch:
        return QStringLiteral("The EFIS holds checksum %1, not the %2 that was stored")
            .arg(hex32(result.read_back), hex32(result.crc));
    }
    return QStringLiteral("The store failed");
}
