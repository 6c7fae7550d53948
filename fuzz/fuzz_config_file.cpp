// Fuzz target: a configuration file as a user might pick it, hand-edited or
// damaged. Reading must refuse it with a message or accept it; an accepted
// file must write back to one that reads again to the same settings, so an
// export of what was imported restores exactly the same values.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "config/config_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const auto file = vk61::read_config_file(bytes, &error);
    if (!file) {
        if (error.isEmpty()) std::abort();  // a refusal always says why
        return 0;
    }
    QString again_error;
    const auto again = vk61::read_config_file(vk61::write_config_file(*file), &again_error);
    if (!again) std::abort();
    // Settings the file leaves out are written as the record holds them (0)
    // and so come back present; compare what the first file had.
    vk61::ConfigFile restricted = *again;
    restricted.present = file->present;
    if (!vk61::same_settings(*file, restricted)) std::abort();
    return 0;
}
