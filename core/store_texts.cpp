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
