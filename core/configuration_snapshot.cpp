#include "core/configuration_snapshot.h"

#include <QDateTime>

#include "comms_manager.h"
#include "core/device_text.h"

std::optional<vk61::DeviceInfo> primaryUnit(const vk61::CommsManager& comms) {
    const std::uint8_t primary = comms.primary_uid();
    for (const vk61::DeviceInfo& unit : comms.device_snapshot()) {
        if (unit.uid == primary && !unit.is_placeholder()) return unit;
    }
    return std::nullopt;
}

std::optional<vk61::ConfigFile> confirmedConfigurationFile(const vk61::ConfigModel& model,
                                                           const std::optional<vk61::DeviceInfo>& efis,
                                                           const QString& tool, const QString& reason) {
    if (!model.confirmed() || model.unknown_count() > 0) return std::nullopt;
    vk61::ConfigFile file;
    file.created = QDateTime::currentDateTimeUtc();
    file.tool = tool;
    file.reason = reason;
    if (efis) {
        file.efis.serial = serialText(efis->device_id);
        file.efis.firmware = firmwareText(efis->firmware);
    }
    file.efis.memory_version = model.confirmed()->memory_version();
    file.settings = *model.confirmed();
    file.unstored_values = !model.matches_stored_checksum();
    file.present.set();
    return file;
}
