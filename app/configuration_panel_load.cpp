// Loading the configuration from the primary unit into the record, checking
// it against the device's checksum, and showing the record in the form.
#include <QDebug>

#include "comms_manager.h"
#include "configuration_panel.h"
#include "setting_bindings.h"
#include "ui_mainwindow.h"
#include "unread_settings.h"

namespace vk61 {

namespace {

struct HeaderMessages {
    unsigned index;
    const char* debug_text;
    const char* status_text;
};

const HeaderMessages kHeaderMessages[] = {
    {vk61::kIndexChecksum, "Error reading checksum value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read checksum from device")},
    {vk61::kIndexMagic, "Error reading magic value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read magic number from device")},
    {vk61::kIndexMemoryVersion, "Error reading memory version value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read memory version from device")},
    {vk61::kIndexNumElements, "Error reading num_elements value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read num_elements from device")},
};

}  // namespace

// The 44 sequential reads run on the bus worker (see ConfigExchange::load);
// the window keeps answering and Cancel ends the load at its next read. A
// load that stops at a header word, or is cancelled, leaves the form, the
// table and the model as they were; settings that could not be read are
// shown as such.
void ConfigurationPanel::load(std::function<void(bool)> then) {
    if (!comms_ || !comms_->is_connected()) {
        showNotConnected();
        if (then) then(false);
        return;
    }
    auto result = std::make_shared<LoadResult>();
    runExchange([result](ConfigExchange& exchange) { *result = exchange.load(); },
                [this, result, then = std::move(then)] { showLoadResult(*result, then); },
                /*cancellable=*/true);
}

void ConfigurationPanel::showLoadResult(const LoadResult& result, const std::function<void(bool)>& then) {
    auto finish = [&](bool ok) {
        if (then) then(ok);
    };
    switch (result.status) {
    case LoadStatus::NotConnected: showNotConnected(); return finish(false);
    case LoadStatus::Cancelled:
        qDebug() << "Load cancelled";
        showStatus(tr("Load cancelled; the form shows what it showed before"));
        return;
    case LoadStatus::HeaderUnread:
        for (const HeaderMessages& header : kHeaderMessages) {
            if (header.index != result.index) continue;
            qDebug() << header.debug_text;
            showStatus(tr(header.status_text));
        }
        return finish(false);
    case LoadStatus::HeaderErased:
        qDebug() << "Header word" << result.index << "reads 0xFFFFFFFF: no stored configuration";
        erasedOnEfis_ = true;
        showStatus(tr("Error: The EFIS holds no stored configuration"));
        return finish(false);
    case LoadStatus::Loaded: break;
    }

    unstoredOnEfis_ = !result.crc_ok;
    erasedOnEfis_ = false;
    populateForm();
    emit loaded();

    // A load that could not read everything, or whose checksum does not
    // match, must not end on a success message.
    if (result.stopped_at >= 0) {
        showStatus(tr("Warning: The EFIS stopped answering at setting %1; %2 setting(s) are marked as not read; "
                      "nothing can be saved until \"Load settings from EFIS\" reads them")
                       .arg(result.stopped_at - static_cast<int>(kSilentSettingsLimit))
                       .arg(result.unread.size()));
        return finish(false);
    }
    if (!result.unread.empty()) {
        showStatus(tr("Warning: %1 setting(s) could not be read and are marked as not read; "
                      "nothing can be saved until \"Load settings from EFIS\" reads them")
                       .arg(result.unread.size()));
        return finish(false);
    }
    if (!result.crc_ok) {
        showStatus(tr("Warning: Configuration CRC verification failed"));
        return finish(false);
    }
    showStatus(tr("Configuration successfully loaded from device"));
    finish(true);
}

void ConfigurationPanel::setFormBusy(bool busy) { lockSettingsForm(bindings_, model_, busy); }

void ConfigurationPanel::populateForm() {
    for (const SettingBinding& binding : bindings_) showSetting(binding, ui_, model_);
    showUnreadSettings(bindings_, model_);
}

}  // namespace vk61
