#include "core/store_texts.h"

#include <QCoreApplication>

#include "config/settings_catalogue.h"

QString writeBackText(const StoreResult& result) {
    QString text;
    if (!result.written_back.empty()) {
        text = QCoreApplication::translate("StoreTexts",
                                           "the setting(s) already written (%1) were written back to their values "
                                           "as read before")
                   .arg(vk61::setting_names(result.written_back));
    }
    if (!result.differing.empty()) {
        if (!text.isEmpty()) text += QStringLiteral("; ");
        text += QCoreApplication::translate("StoreTexts",
                                            "the write-back failed too: the working values of %1 now differ from "
                                            "what the EFIS stored (a reboot of the EFIS discards them)")
                    .arg(vk61::setting_names(result.differing));
    }
    return text;
}

QString unstoredValuesText() {
    return QCoreApplication::translate("StoreTexts",
                                       "The EFIS holds working values that were never stored (its settings do not "
                                       "match its stored checksum); a store now would store them along with this "
                                       "change. A reboot of the EFIS discards them");
}

std::optional<QString> firstConfigurationRefusal(const vk61::ConfigFile& file, const QString& source) {
    if (!file.present.all()) {
        return QCoreApplication::translate("StoreTexts",
                                           "The EFIS's configuration memory is erased, and %1 does not hold every "
                                           "setting")
            .arg(source);
    }
    if (!file.efis.memory_version) {
        return QCoreApplication::translate("StoreTexts",
                                           "The EFIS's configuration memory is erased, and %1 does not name its "
                                           "memory version")
            .arg(source);
    }
    if (const auto refused = vk61::import_refusal(file, nullptr)) {
        return QCoreApplication::translate("StoreTexts", "%1 cannot be imported: %2").arg(source, refused->message);
    }
    return std::nullopt;
}

QString firstConfigurationStoredText(const QString& source, std::size_t written) {
    return QCoreApplication::translate("StoreTexts", "First configuration stored from %1: %2 setting(s) written")
        .arg(source)
        .arg(written);
}

QString notConnectedText() {
    return QCoreApplication::translate("StoreTexts", "No communication interface connected (USB HID or CAN FD)");
}

QString refusedText(const QString& why) {
    return QCoreApplication::translate("StoreTexts", "%1. Nothing was sent").arg(why);
}
