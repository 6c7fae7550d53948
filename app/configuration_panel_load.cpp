// Loading the configuration from the primary unit into the record, checking
// it against the device's checksum, and showing the record in the form.
#include "comms_manager.h"
#include "configuration_panel.h"
#include "result_text.h"
#include "setting_bindings.h"
#include "ui_mainwindow.h"
#include "unread_settings.h"

namespace vk61 {

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
    logLoadResult(result);
    if (result.status == LoadStatus::HeaderErased) erasedOnEfis_ = true;
    if (result.status == LoadStatus::Loaded) {
        unstoredOnEfis_ = !result.crc_ok;
        erasedOnEfis_ = false;
        populateForm();
        emit loaded();
    }
    if (const QString text = loadStatusText(result); !text.isEmpty()) showStatus(text);
    // A cancelled load answers nobody: whoever asked for it cancelled it.
    if (result.status == LoadStatus::Cancelled) return;
    // Only a complete load whose checksum matches counts.
    if (then) then(result.ok() && result.crc_ok);
}

void ConfigurationPanel::setFormBusy(bool busy) { lockSettingsForm(bindings_, model_, busy); }

void ConfigurationPanel::populateForm() {
    for (const SettingBinding& binding : bindings_) showSetting(binding, ui_, model_);
    showUnreadSettings(bindings_, model_);
}

}  // namespace vk61
